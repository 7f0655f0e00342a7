#include "text/LanguageSettings.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "files/FileCalls.h"
#include "text/ProfileFile.h"
#include "text/TextCodec.h"
#include "text/TextLookup.h"
#include "text/SystemReason.h"

namespace tarvex {

std::wstring AppDirOf(const std::wstring& executablePath) {
    const size_t cut = executablePath.find_last_of(PATH_SEPARATOR);
    return cut == std::wstring::npos ? std::wstring() : executablePath.substr(0, cut + 1);
}

std::wstring ResourceDirFor(const std::wstring& appDir) {
    std::error_code ec;
    const auto has = [&ec](const std::wstring& dir) {
        const std::filesystem::path folder = PathFromWide(dir);
        return std::filesystem::exists(folder / LANGUAGE_FOLDER_NAME, ec) ||
               std::filesystem::exists(folder / SETTING_FILE_NAME, ec);
    };
    if (has(appDir)) return appDir;
    std::wstring installed = appDir + L".." + PATH_SEPARATOR + L"share" + PATH_SEPARATOR + L"tarvex-scale" + PATH_SEPARATOR;
    return has(installed) ? installed : appDir;
}

std::wstring SettingFileIn(const std::wstring& appDir) { return appDir + SETTING_FILE_NAME; }

std::wstring LanguageFileFromSettings(const std::wstring& appDir, const std::wstring& settingFile) {
    std::wstring stored = ReadProfileText(settingFile, SECTION_LANGUAGE, KEY_LANGUAGE_FILE);
#ifndef _WIN32
    for (wchar_t& c : stored)
        if (c == L'\\') c = PATH_SEPARATOR;
#endif
    return appDir + LANGUAGE_FOLDER_NAME + stored;
}

FileTrouble CheckTextFile(const std::wstring& file, std::wstring_view section, std::wstring_view key,
                          std::wstring& systemReason) {
    namespace fs = std::filesystem;
    const fs::path path = PathFromWide(file);
    const auto cannot = [&systemReason](int error) {
        systemReason = SystemReason(error);
        return FileTrouble::CannotOpen;
    };
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) return cannot(ENOENT);
    if (fs::is_directory(status)) return cannot(EISDIR);
    std::FILE* in = OpenStream(path, "rb");
    if (in == nullptr) return cannot(errno);
    std::fclose(in);
    if (fs::file_size(path, ec) > PROFILE_MAX_FILE_SIZE) return FileTrouble::TooLarge;
    if (!ProfileHasKey(file, section, key)) return FileTrouble::NoTexts;
    return FileTrouble::None;
}

std::vector<std::wstring> ListLanguageEntries(const std::wstring& appDir) {
    const std::wstring prefix = appDir + LANGUAGE_FOLDER_NAME + PATH_SEPARATOR;
    std::vector<std::wstring> entries;
    std::error_code ec;
    std::filesystem::directory_iterator it(PathFromWide(prefix), ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        entries.push_back(prefix + WideFromPath(it->path().filename()));
    return entries;
}

int RememberedLanguageLine(const std::vector<std::wstring>& displayNames,
                           const std::wstring& rememberedName) {
    int line = 0;
    for (size_t i = 0; i < displayNames.size(); ++i)
        if (displayNames[i] == rememberedName) line = static_cast<int>(i);
    return line;
}

bool RememberLanguage(const std::wstring& settingFile, const std::wstring& languageFile) {
    const std::wstring name = ReadProfileText(languageFile, SECTION_LANGUAGE, KEY_LANGUAGE_NAME);
    const bool nameWritten = WriteProfileText(settingFile, SECTION_LANGUAGE, KEY_LANGUAGE_NAME, name);
    const size_t cut = languageFile.find_last_of(PATH_SEPARATOR);
    const std::wstring fileName =
        cut == std::wstring::npos ? languageFile : languageFile.substr(cut + 1);
    const bool fileWritten =
        WriteProfileText(settingFile, SECTION_LANGUAGE, KEY_LANGUAGE_FILE, L"\\" + fileName);
    return nameWritten && fileWritten;
}

std::wstring LanguageSettingFile(const std::wstring& programFile, const std::wstring& userFile) {
    if (!userFile.empty() && ProfileHasKey(userFile, SECTION_LANGUAGE, KEY_LANGUAGE_FILE)) return userFile;
    return programFile;
}

std::wstring WriteWhereWritable(const std::wstring& inUse, const std::wstring& userFile,
                               const std::function<bool(const std::wstring& file)>& write) {
    if (write(inUse)) return inUse;
    if (userFile.empty() || inUse == userFile) return {};
    std::error_code ec;
    std::filesystem::create_directories(PathFromWide(userFile).parent_path(), ec);
    return write(userFile) ? userFile : std::wstring();
}

std::wstring RememberLanguageWhereWritable(const std::wstring& inUse, const std::wstring& userFile,
                                           const std::wstring& languageFile) {
    return WriteWhereWritable(inUse, userFile, [&](const std::wstring& file) { return RememberLanguage(file, languageFile); });
}

}  // namespace tarvex
