#pragma once
// Every text the user sees is read from the language file in use just before
// it is shown; a text the file does not hold (a missing or unreadable file, a
// missing section or key) is the shipped English one, compiled in.

#include <mutex>
#include <string>
#include <string_view>

namespace tarvex {

class CTextLookup {
public:
    void SetLanguageFile(std::wstring path);
    std::wstring LanguageFile() const;

    // Safe from any thread: each read returns its own copy.
    std::wstring Text(std::wstring_view section, std::wstring_view key) const;
    // The text with "{count}" filled in; for a count of one the key's
    // "_One" form ("1 reading") when the file has it.
    std::wstring Counted(std::wstring_view section, std::wstring_view key, long long count) const;

private:
    mutable std::mutex m_lock;  // the handshake workers read texts too
    std::wstring m_languageFile;
};

// The text of the key in the language file, else the shipped English text.
std::wstring LanguageText(const std::wstring& languageFile, std::wstring_view section, std::wstring_view key);

// The shipped English language file, as built into the program.
extern const char SHIPPED_ENGLISH_INI[];

// Fills a placeholder such as "{device}" of a text from the language file.
void ReplaceAll(std::wstring& text, std::wstring_view placeholder, std::wstring_view value);

// Sections of a language file.
inline constexpr std::wstring_view SECTION_LANGUAGE = L"Language_Configuration";
inline constexpr std::wstring_view SECTION_CAPTION = L"Dialog_Caption";
inline constexpr std::wstring_view SECTION_HEADER = L"ListCtrl_Header";
inline constexpr std::wstring_view SECTION_MESSAGE = L"Message";
inline constexpr std::wstring_view SECTION_BUTTON = L"Message_Button";
inline constexpr std::wstring_view SECTION_STATUS = L"Status_Line";

}  // namespace tarvex
