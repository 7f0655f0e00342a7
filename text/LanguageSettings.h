#pragma once
// Where "Setting.ini" and the language files live, and what the language
// list and its confirm button do to them. No display types here.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

inline constexpr wchar_t SETTING_FILE_NAME[] = L"Setting.ini";
inline constexpr wchar_t LANGUAGE_FOLDER_NAME[] = L"Language";
inline constexpr wchar_t KEY_LANGUAGE_FILE[] = L"Language_FileName";
inline constexpr wchar_t KEY_LANGUAGE_NAME[] = L"Language_Name";

#ifdef _WIN32
inline constexpr wchar_t PATH_SEPARATOR = L'\\';
#else
inline constexpr wchar_t PATH_SEPARATOR = L'/';
#endif

// The folder of the executable, ending with the separator.
std::wstring AppDirOf(const std::wstring& executablePath);

// Where "Language/" and the default "Setting.ini" are: beside the program
// (the portable layout, the build tree) or, for a program installed into
// bin/, in ../share/tarvex-scale/. Ends with the separator.
std::wstring ResourceDirFor(const std::wstring& appDir);

std::wstring SettingFileIn(const std::wstring& appDir);

// The language file that "Setting.ini" names: the folder, "Language" and the
// stored value joined with nothing in between. The stored value carries a
// backslash so that one "Setting.ini" serves Windows and Linux alike; on
// Linux its backslashes are read as separators.
std::wstring LanguageFileFromSettings(const std::wstring& appDir, const std::wstring& settingFile);

// Every entry of the language folder (files of any name and sub-folders), in
// the order the file system lists them.
std::vector<std::wstring> ListLanguageEntries(const std::wstring& appDir);

// The line to select: the last entry whose name equals the remembered one
// exactly, or line 0.
int RememberedLanguageLine(const std::vector<std::wstring>& displayNames,
                           const std::wstring& rememberedName);

// Writes the chosen file's display name and "\<file name>" into "Setting.ini".
// False when either write failed; the language still changes for this run.
bool RememberLanguage(const std::wstring& settingFile, const std::wstring& languageFile);

// Why a settings or language file gives none of its texts.
enum class FileTrouble { None, CannotOpen, TooLarge, NoTexts };
// CannotOpen comes with the system's words in systemReason; NoTexts means
// the file lacks the key that every such file holds.
FileTrouble CheckTextFile(const std::wstring& file, std::wstring_view section, std::wstring_view key,
                          std::wstring& systemReason);

// Where the language choice is read from: the user's own "Setting.ini" when
// it holds one (the program's file could not be written once), else the
// program's.
std::wstring LanguageSettingFile(const std::wstring& programFile, const std::wstring& userFile);

// Writes into the file in use; when that cannot be written, into the
// user's own file (made as needed). Returns the file written, empty when none.
std::wstring WriteWhereWritable(const std::wstring& inUse, const std::wstring& userFile,
                               const std::function<bool(const std::wstring& file)>& write);

// Remembers the choice in the file in use; when that cannot be written, in
// the user's own file (made as needed), which is in use from then on.
// Returns the file that holds the choice now, empty when none could be written.
std::wstring RememberLanguageWhereWritable(const std::wstring& inUse, const std::wstring& userFile,
                                           const std::wstring& languageFile);

}  // namespace tarvex
