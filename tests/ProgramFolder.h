#pragma once
// A program folder of a test's own: "Setting.ini" and "Language/" with the
// shipped files, as the program finds them beside itself.

#include <filesystem>
#include <string>

#include "TempDir.h"

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

}  // namespace tarvex::test
