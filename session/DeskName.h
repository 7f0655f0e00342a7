#pragma once
// The desk a copy of the program takes its readings at: "[Feed] Desk=" of
// "Setting.ini", else the computer's name; a second copy running beside
// the first adds its journal slot ("PACK-3-2"), so no two copies running
// at once share a desk.

#include <string>

namespace tarvex {

inline constexpr wchar_t SECTION_FEED[] = L"Feed";
inline constexpr wchar_t KEY_DESK[] = L"Desk";

// setting: UTF-8, as "Setting.ini" gave it; slot 0 or 1 adds nothing.
std::string DeskName(const std::string& setting, int slot);

// The computer's name; "desk" when the system gives none.
std::string ComputerName();

}  // namespace tarvex
