#pragma once
// The journal's text: one header line, then one line per table row, each
// carrying what is needed to show the row again and a check of its own, so a
// half-written or damaged line is told from a whole one.
//
//   TARVEX-SCALE-JOURNAL<TAB>1
//   R<TAB>row<TAB>kind<TAB>kilograms<TAB>time<TAB>six cells...<TAB>crc32
//   X<TAB>count<TAB>crc32      the first count rows above left the table
//
// Cells are UTF-8 with backslash, control bytes and DEL written as \xHH.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "MeasurementTable.h"

namespace tarvex {

constexpr int JOURNAL_VERSION = 1;
inline constexpr std::string_view JOURNAL_MAGIC = "TARVEX-SCALE-JOURNAL";

struct JournalRow {
    RowKind kind = RowKind::Weight;
    double kilograms = 0;  // the stored value or mark
    int64_t time = 0;      // calendar seconds of the row
    std::array<std::wstring, COLUMN_COUNT> cells;
};

std::string JournalHeader();
std::string FormatJournalLine(int row, const JournalRow& record);
// The first count rows of the journal are no longer in the table; the rows
// after them are numbered from 0 again.
std::string FormatClearedLine(int count);

enum class JournalState {
    Empty,       // no file, or a header and no rows
    Rows,        // rows to offer back (possibly before a damaged tail)
    Unreadable,  // not a journal, or one from a newer version
};

struct JournalContents {
    JournalState state = JournalState::Empty;
    std::vector<JournalRow> rows;
    size_t wholeBytes = 0;  // length of the header and the whole rows read
    bool damaged = false;   // something followed the last whole row
    int droppedRows = 0;    // older rows beyond maxRows, not in rows
};

// At most maxRows rows are returned, the newest; the older ones are only
// counted, so a journal of millions of rows is read in about a second.
JournalContents ReadJournal(std::string_view bytes, int maxRows = INT32_MAX);

uint32_t Crc32(std::string_view bytes);

}  // namespace tarvex
