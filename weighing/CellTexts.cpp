#include "CellTexts.h"

#include <cstdio>
#include <ctime>

namespace tarvex {
namespace {

std::wstring Widen(const char* text, int count) {
    if (count <= 0) return {};
    return std::wstring(text, text + count);
}

}  // namespace

std::wstring FormatRowNumber(int row) {
    char buf[16];
    return Widen(buf, std::snprintf(buf, sizeof buf, "%8d", row + 1));
}

std::wstring FormatDuration(int64_t d) {
    const long hours = static_cast<long>(d / 3600 - (d / 86400) * 24);
    const long minutes = static_cast<long>(d / 60 - (d / 3600) * 60);
    const long seconds = static_cast<long>(d - (d / 60) * 60);
    char buf[64];
    return Widen(buf, std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", hours, minutes, seconds));
}

std::wstring FormatUpdateTime(int64_t calendarTime) {
    return FormatLocalTime(calendarTime, "%H:%M:%S %m/%d/%Y");
}

std::wstring FormatLocalTime(int64_t calendarTime, const char* pattern) {
    const std::time_t t = static_cast<std::time_t>(calendarTime);
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0) return {};
#else
    if (localtime_r(&t, &local) == nullptr) return {};
#endif
    char buf[128];
    const size_t len = std::strftime(buf, sizeof buf, pattern, &local);
    return Widen(buf, static_cast<int>(len));
}

}  // namespace tarvex
