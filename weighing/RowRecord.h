#pragma once
// One row as it leaves the table: what the journal keeps and every output
// gets. Its cells are the texts the table showed when it was made.

#include <array>
#include <cstdint>
#include <string>

#include "weighing/MeasurementTable.h"

namespace tarvex {

struct RowRecord {
    RowKind kind = RowKind::Weight;
    double kilograms = 0;  // the stored value or mark
    int64_t time = 0;      // calendar seconds of the row
    std::array<std::wstring, COLUMN_COUNT> cells;
    // Who took the reading and its place in that desk's count: no two
    // readings share both. seq 0: none was given yet (an older journal).
    std::string desk;  // UTF-8
    uint64_t seq = 0;
    // The weight as the scale said it; empty for the frames' readings.
    std::string scaleDigits;
    std::string scaleUnit;
};

}  // namespace tarvex
