#pragma once
// Texts of the Number, Duration and Update_Time cells.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace tarvex {

// Row number plus one, right-aligned in eight places.
std::wstring FormatRowNumber(int row);

// Seconds since the start of the link as "%H:%M:%S" by the time-span rule:
// whole days are dropped and a negative span shows negative fields.
std::wstring FormatDuration(int64_t seconds);
// The seconds of a Duration text, so that FormatDuration gives the same text
// again; false for a text it never makes.
bool ParseDuration(std::wstring_view text, int64_t& seconds);

// Local time as "%H:%M:%S %m/%d/%Y"; empty when it cannot be formed.
std::wstring FormatUpdateTime(int64_t calendarTime);

// The local time of a calendar time; false when it cannot be converted.
bool LocalTime(int64_t calendarTime, std::tm& local);

// Local time in a strftime pattern, at most 127 characters; empty when the
// time cannot be converted or the text does not fit.
std::wstring FormatLocalTime(int64_t calendarTime, const char* pattern);

}  // namespace tarvex
