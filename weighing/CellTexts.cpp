#include "weighing/CellTexts.h"

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

bool ParseDuration(std::wstring_view text, int64_t& seconds) {
    // Three fields, each a minus sign or not and one digit or more.
    int64_t fields[3];
    size_t at = 0;
    for (int f = 0; f < 3; ++f) {
        if (f > 0) {
            if (at >= text.size() || text[at] != L':') return false;
            ++at;
        }
        const bool negative = at < text.size() && text[at] == L'-';
        if (negative) ++at;
        const size_t digits = at;
        int64_t value = 0;
        while (at < text.size() && text[at] >= L'0' && text[at] <= L'9' && at - digits < 9)
            value = value * 10 + (text[at++] - L'0');
        if (at == digits) return false;
        fields[f] = negative ? -value : value;
    }
    if (at != text.size()) return false;
    seconds = fields[0] * 3600 + fields[1] * 60 + fields[2];
    return FormatDuration(seconds) == text;
}

std::wstring FormatUpdateTime(int64_t calendarTime) {
    return FormatLocalTime(calendarTime, "%H:%M:%S %m/%d/%Y");
}

bool LocalTime(int64_t calendarTime, std::tm& local) {
    const std::time_t t = static_cast<std::time_t>(calendarTime);
    local = {};
#ifdef _WIN32
    return localtime_s(&local, &t) == 0;
#else
    return localtime_r(&t, &local) != nullptr;
#endif
}

std::wstring FormatLocalTime(int64_t calendarTime, const char* pattern) {
    std::tm local;
    if (!LocalTime(calendarTime, local)) return {};
    char buf[128];
    const size_t len = std::strftime(buf, sizeof buf, pattern, &local);
    return Widen(buf, static_cast<int>(len));
}

}  // namespace tarvex
