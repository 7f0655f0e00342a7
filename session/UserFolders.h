#pragma once
// The user's own folders, for what the program keeps when its own folder
// cannot be written, and always for the journal:
//   Linux   $XDG_CONFIG_HOME/tarvex-scale, $XDG_DATA_HOME/tarvex-scale,
//           the documents folder of user-dirs.dirs + "Tarvex Scale"
//   Windows %APPDATA%\Tarvex Scale, %LOCALAPPDATA%\Tarvex Scale,
//           Documents\Tarvex Scale
// Each is empty when the system names no home for the user.

#include <filesystem>
#include <string>

namespace tarvex {

std::filesystem::path UserSettingsFolder();
std::filesystem::path UserDataFolder();
std::filesystem::path UserDocumentsFolder();
// The user's home folder (the profile folder on Windows).
std::filesystem::path UserHomeFolder();

// libpq's password file, which it reads by itself: $PGPASSFILE, else
// ~/.pgpass; on Windows %APPDATA%\postgresql\pgpass.conf.
std::filesystem::path DatabasePasswordFile();

// "Setting.ini" in the user's own settings folder; empty when there is none.
std::wstring UserSettingFile();

// The folder the clerk last saved a table to, kept in the user's own
// "Setting.ini"; empty when none was kept.
std::wstring RememberedSaveFolder(const std::wstring& userFile);
bool RememberSaveFolder(const std::wstring& userFile, const std::wstring& folder);

}  // namespace tarvex
