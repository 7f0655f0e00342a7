#include "outputs/ReadingFields.h"

#include <cstdio>
#include <cwchar>
#include <ctime>

#include "text/TextCodec.h"
#include "weighing/CellTexts.h"

namespace tarvex {
namespace {

std::string Trimmed(std::wstring_view text) {
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring_view::npos) return {};
    const size_t last = text.find_last_not_of(L' ');
    return Utf8FromWide(text.substr(first, last - first + 1));
}

const char* KindName(RowKind kind) {
    switch (kind) {
        case RowKind::Overweight: return "overweight";
        case RowKind::Error: return "error";
        default: return "weight";
    }
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

}  // namespace

std::string IsoLocalTime(int64_t calendarTime) {
    std::tm local;
    if (!LocalTime(calendarTime, local)) return {};
    // The offset is what the local clock reads minus universal time (the
    // Windows runtime's %z gives a zone's name, not its offset).
    const int64_t localSeconds = DaysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday) * 86400 +
                                 local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const int64_t offsetMinutes = (localSeconds - calendarTime) / 60;
    const int64_t absMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  offsetMinutes < 0 ? '-' : '+', static_cast<int>(absMinutes / 60), static_cast<int>(absMinutes % 60));
    return text;
}

ReadingFields FieldsOf(const RowRecord& record, std::wstring_view remarkPrefix) {
    ReadingFields fields;
    fields.desk = record.desk;
    fields.seq = record.seq;
    fields.number = std::wcstol(record.cells[COLUMN_NUMBER].c_str(), nullptr, 10);
    fields.kind = KindName(record.kind);
    if (record.kind == RowKind::Weight) fields.kg = record.kilograms;
    fields.shown = Trimmed(record.cells[COLUMN_DATA]);
    fields.unit = Trimmed(record.cells[COLUMN_UNIT]);
    fields.time = IsoLocalTime(record.time);
    fields.duration = Trimmed(record.cells[COLUMN_DURATION]);
    if (record.kind == RowKind::Error) {
        std::wstring_view remark = record.cells[COLUMN_EXPLAN];
        // The bytes follow the words, one per character.
        const bool frameBytes = !remarkPrefix.empty() && remark.starts_with(remarkPrefix);
        fields.remark = Trimmed(frameBytes ? remarkPrefix : remark);
        std::string hex;
        if (frameBytes) {
            static const char DIGITS[] = "0123456789abcdef";
            for (const wchar_t c : remark.substr(remarkPrefix.size())) {
                const unsigned byte = static_cast<unsigned>(c) & 0xFFu;
                hex += DIGITS[byte >> 4];
                hex += DIGITS[byte & 0xFu];
            }
        }
        fields.bytes = std::move(hex);
    }
    return fields;
}

}  // namespace tarvex
