#pragma once
// A weighing as the feed is handed it, for the feed's tests and bench.

#include <cstdint>
#include <string>

#include "weighing/RowRecord.h"

namespace tarvex::test {

inline RowRecord Weighing(uint64_t seq) {
    RowRecord record;
    record.kilograms = 1.25;
    record.time = 1765281600;
    record.desk = "desk-1";
    record.seq = seq;
    record.cells = {std::to_wstring(seq), L"1.2500", L"KG", L"00:00:01", L"12:00:00 12/09/2025", L""};
    return record;
}

}  // namespace tarvex::test
