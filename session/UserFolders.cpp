#include "session/UserFolders.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

#include "text/LanguageSettings.h"
#include "text/ProfileFile.h"
#include "text/TextCodec.h"

#ifdef _WIN32
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#endif

namespace tarvex {
namespace {

#ifdef _WIN32
constexpr wchar_t FOLDER_NAME[] = L"Tarvex Scale";

std::filesystem::path KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::filesystem::path result;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path))) result = path;
    ::CoTaskMemFree(path);
    return result;
}

std::filesystem::path Inside(const std::filesystem::path& base) { return base.empty() ? base : base / FOLDER_NAME; }
#else
std::filesystem::path Home() {
    const char* home = std::getenv("HOME");
    return home && *home ? std::filesystem::path(home) : std::filesystem::path();
}

// An XDG base folder: the variable when it holds an absolute path, else the
// given place under the home folder.
std::filesystem::path XdgFolder(const char* variable, const char* underHome) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return value;
    const std::filesystem::path home = Home();
    return home.empty() ? home : home / underHome;
}

// XDG_DOCUMENTS_DIR of user-dirs.dirs, as xdg-user-dir reads it: a quoted
// path, "$HOME/" at its start standing for the home folder. Without it, the
// home folder itself.
std::filesystem::path DocumentsDir() {
    const std::filesystem::path home = Home();
    std::ifstream in(XdgFolder("XDG_CONFIG_HOME", ".config") / "user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DOCUMENTS_DIR=\"";
        if (line.rfind(key, 0) != 0 || line.size() < key.size() + 1 || line.back() != '"') continue;
        std::string value = line.substr(key.size(), line.size() - key.size() - 1);
        if (value.rfind("$HOME", 0) == 0) {
            if (home.empty()) return {};
            value = home.string() + value.substr(5);
        }
        if (!value.empty() && value[0] == '/') return value;
    }
    return home;
}
#endif

}  // namespace

#ifdef _WIN32
std::filesystem::path UserSettingsFolder() { return Inside(KnownFolder(FOLDERID_RoamingAppData)); }
std::filesystem::path UserDataFolder() { return Inside(KnownFolder(FOLDERID_LocalAppData)); }
std::filesystem::path UserDocumentsFolder() { return Inside(KnownFolder(FOLDERID_Documents)); }
std::filesystem::path UserHomeFolder() { return KnownFolder(FOLDERID_Profile); }
#else
std::filesystem::path UserSettingsFolder() {
    const auto base = XdgFolder("XDG_CONFIG_HOME", ".config");
    return base.empty() ? base : base / "tarvex-scale";
}
std::filesystem::path UserDataFolder() {
    const auto base = XdgFolder("XDG_DATA_HOME", ".local/share");
    return base.empty() ? base : base / "tarvex-scale";
}
std::filesystem::path UserDocumentsFolder() {
    const auto base = DocumentsDir();
    return base.empty() ? base : base / "Tarvex Scale";
}
std::filesystem::path UserHomeFolder() { return Home(); }
#endif

std::filesystem::path DatabasePasswordFile() {
    if (const char* given = std::getenv("PGPASSFILE"); given && *given) return PathFromWide(WideFromUtf8(given));
#ifdef _WIN32
    const std::filesystem::path base = KnownFolder(FOLDERID_RoamingAppData);
    return base.empty() ? base : base / "postgresql" / "pgpass.conf";
#else
    const std::filesystem::path home = Home();
    return home.empty() ? home : home / ".pgpass";
#endif
}

std::wstring UserSettingFile() {
    const std::filesystem::path folder = UserSettingsFolder();
    return folder.empty() ? std::wstring() : WideFromPath(folder / SETTING_FILE_NAME);
}

namespace {
constexpr wchar_t SECTION_SAVE[] = L"Save";
constexpr wchar_t KEY_LAST_FOLDER[] = L"Last_Folder";
}  // namespace

std::wstring RememberedSaveFolder(const std::wstring& userFile) {
    return userFile.empty() ? std::wstring() : ReadProfileText(userFile, SECTION_SAVE, KEY_LAST_FOLDER);
}

bool RememberSaveFolder(const std::wstring& userFile, const std::wstring& folder) {
    if (userFile.empty()) return false;
    std::error_code ignored;
    std::filesystem::create_directories(PathFromWide(userFile).parent_path(), ignored);
    return WriteProfileText(userFile, SECTION_SAVE, KEY_LAST_FOLDER, folder);
}

}  // namespace tarvex
