#include "text/TextLookup.h"

#include "text/ProfileFile.h"

namespace tarvex {

void CTextLookup::SetLanguageFile(std::wstring path) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_languageFile = std::move(path);
}

std::wstring CTextLookup::LanguageFile() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_languageFile;
}

std::wstring CTextLookup::Text(std::wstring_view section, std::wstring_view key) const {
    return LanguageText(LanguageFile(), section, key);
}

std::wstring CTextLookup::Counted(std::wstring_view section, std::wstring_view key, long long count) const {
    std::wstring text;
    if (count == 1) text = Text(section, std::wstring(key) + L"_One");
    if (text.empty()) text = Text(section, key);
    ReplaceAll(text, L"{count}", std::to_wstring(count));
    return text;
}

std::wstring LanguageText(const std::wstring& languageFile, std::wstring_view section, std::wstring_view key) {
    if (std::optional<std::wstring> text = FindProfileText(languageFile, section, key)) return *std::move(text);
    static const CProfileText english(SHIPPED_ENGLISH_INI);
    return english.Find(section, key).value_or(std::wstring());
}

void ReplaceAll(std::wstring& text, std::wstring_view placeholder, std::wstring_view value) {
    if (placeholder.empty()) return;
    for (size_t at = text.find(placeholder); at != std::wstring::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

}  // namespace tarvex
