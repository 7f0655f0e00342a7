#pragma once
// A program folder of a test's own: "Setting.ini" and "Language/" with the
// shipped files, as the program finds them beside itself.

#include <filesystem>
#include <string>

#include "session/Session.h"
#include "tests/support/TempDir.h"
#include "text/TextCodec.h"

namespace tarvex::test {

inline std::string ShippedFile(const std::string& relative) {
    return TempDir::Read(std::filesystem::path(TARVEX_RESOURCES_DIR) / relative);
}

// Tests never reach the machine's own serial devices: the fixed table is off.
inline const char* const kEnglishSetting =
    "[Language_Configuration]\r\nLanguage_FileName=\\English.ini\r\nLanguage_Name=English\r\n"
    "[Serial_Ports]\r\nDefaults=off\r\n";

inline void WriteProgramFolder(const TempDir& dir, const std::string& setting = kEnglishSetting) {
    dir.Write("Language/English.ini", ShippedFile("Language/English.ini"));
    dir.Write("Language/Chinese.ini", ShippedFile("Language/Chinese.ini"));
    dir.Write("Setting.ini", setting);
}

// The program as if it lay in the test's folder; the user's own places
// inside it too.
inline void PlaceInTestFolder(SessionSetup& setup, const TempDir& dir) {
    setup.executablePath = WideFromPath(dir.Path() / "tarvex-scale");
    setup.userDataFolder = dir.Path() / "user-data";
    setup.userSettingFile = WideFromPath(dir.Path() / "user-config" / "Setting.ini");
    setup.documentsFolder = dir.Path() / "Documents";
}

}  // namespace tarvex::test
