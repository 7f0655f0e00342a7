#pragma once
// What another program is told of one reading: the same fields for the
// HTTP feed's JSON and for each line of the live CSV file, in UTF-8.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "weighing/RowRecord.h"

namespace tarvex {

struct ReadingFields {
    std::string desk;
    uint64_t seq = 0;
    long number = 0;               // the row's Number, from 1
    std::string kind;              // "weight", "overweight" or "error"
    std::optional<double> kg;      // weight rows only
    std::string shown;             // the Data cell as the table showed it
    std::string unit;              // "KG", "LB" or "LB:OZ"
    std::string time;              // ISO 8601 with the local offset
    std::string duration;          // the Duration cell
    std::optional<std::string> remark;  // a damaged frame's words
    std::optional<std::string> bytes;   // a damaged frame's bytes in hex
};

// remarkPrefix: the words the table puts before a damaged frame's bytes.
ReadingFields FieldsOf(const RowRecord& record, std::wstring_view remarkPrefix);

// "2026-12-09T11:40:05+01:00"; empty when the system cannot tell.
std::string IsoLocalTime(int64_t calendarTime);

}  // namespace tarvex
