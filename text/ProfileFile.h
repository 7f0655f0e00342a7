#pragma once
// Reading and writing one key of one section of an INI file, the way the
// program's language files and "Setting.ini" are kept:
//  - "[section]" lines open a section, "key=value" lines follow;
//  - section and key names match without regard to case, blanks around names
//    and values are trimmed, a line starting with ';' is a comment;
//  - a missing file, section or key reads as the empty text;
//  - a read gives at most PROFILE_MAX_TEXT characters;
//  - a file over PROFILE_MAX_FILE_SIZE bytes reads as one without keys;
//  - a file is read once and kept until its size or modification time changes;
//  - a UTF-16LE byte-order mark means UTF-16LE, a UTF-8 mark is skipped, any
//    other file is narrow text (UTF-8 here);
//  - a write replaces the value in place, keeps every other line and the
//    file's encoding, and adds the key, the section or the file as needed.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

// Room of the text buffer every read lands in, less its terminator.
constexpr size_t PROFILE_MAX_TEXT = 499;
constexpr uintmax_t PROFILE_MAX_FILE_SIZE = 1024 * 1024;

std::wstring ReadProfileText(const std::wstring& file, std::wstring_view section,
                             std::wstring_view key);

// The key's text, or nothing when the file, section or key is missing.
std::optional<std::wstring> FindProfileText(const std::wstring& file, std::wstring_view section,
                                            std::wstring_view key);

// An INI file's bytes held in memory, read by the same rules.
class CProfileText {
public:
    explicit CProfileText(std::string_view bytes);
    ~CProfileText();
    std::optional<std::wstring> Find(std::wstring_view section, std::wstring_view key) const;

private:
    struct Index;
    std::unique_ptr<const Index> m_index;
};

// Whether the key's value is longer than a read gives.
bool ProfileTextTooLong(const std::wstring& file, std::wstring_view section, std::wstring_view key);

// Whether the key is present at all, even with an empty value.
bool ProfileHasKey(const std::wstring& file, std::wstring_view section, std::wstring_view key);

// The file's bytes with the key written as WriteProfileText writes it.
std::string WithProfileText(std::string_view bytes, std::wstring_view section, std::wstring_view key,
                            std::wstring_view value);

// False when the file could not be written; the file is then unchanged.
bool WriteProfileText(const std::wstring& file, std::wstring_view section,
                      std::wstring_view key, std::wstring_view value);

}  // namespace tarvex
