#pragma once
// Conversions between the program's wide strings and the byte encodings met in
// files and paths. Narrow text is UTF-8 on POSIX.

#include <filesystem>
#include <string>
#include <string_view>

namespace tarvex {

std::wstring WideFromUtf8(std::string_view bytes);
std::string Utf8FromWide(std::wstring_view text);

// UTF-16LE bytes (no BOM) to wide text and back; surrogate pairs are joined
// where wchar_t is 32 bits wide.
std::wstring WideFromUtf16Le(std::string_view bytes);
std::string Utf16LeFromWide(std::wstring_view text);

// The path that a wide string names; on POSIX the file system takes UTF-8.
std::filesystem::path PathFromWide(const std::wstring& text);
std::wstring WideFromPath(const std::filesystem::path& path);

}  // namespace tarvex
