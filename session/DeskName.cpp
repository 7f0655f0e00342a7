#include "session/DeskName.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "text/TextCodec.h"

namespace tarvex {

std::string ComputerName() {
#ifdef _WIN32
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (::GetComputerNameW(name, &size) && size > 0) return Utf8FromWide(std::wstring(name, size));
#else
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
#endif
    return "desk";
}

std::string DeskName(const std::string& setting, int slot) {
    // Spaces around the name and control characters are no part of it.
    std::string name;
    for (const char c : setting)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) name += c;
    const size_t first = name.find_first_not_of(' ');
    name = first == std::string::npos ? std::string() : name.substr(first, name.find_last_not_of(' ') - first + 1);
    if (name.empty()) name = ComputerName();
    if (slot > 1) name += "-" + std::to_string(slot);
    return name;
}

}  // namespace tarvex
