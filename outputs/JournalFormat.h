#pragma once
// The journal's text: one header line, then one line per table row, each
// carrying what is needed to show the row again and a check of its own, so a
// half-written or damaged line is told from a whole one.
//
//   TARVEX-SCALE-JOURNAL<TAB>1
//   R<TAB>row<TAB>kind<TAB>kilograms<TAB>time<TAB>six cells...<TAB>crc32
//   X<TAB>count<TAB>crc32      the first count rows above left the table
//   K<TAB>count<TAB>crc32      they left it too, but no copy of them could be
//                              made: the file up to here is copied aside
//                              before it is ever emptied
//
// A damaged line is skipped; a row after it may then take the place of the
// rows that line held, so a bad line hides nothing that follows it.
// Cells are UTF-8 with backslash, control bytes and DEL written as \xHH.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "weighing/MeasurementTable.h"

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
// The same for rows that must be kept: see K above.
std::string FormatKeptLine(int count);

enum class JournalState {
    Empty,       // no file, or a header and no rows
    Rows,        // rows to offer back (possibly before a damaged tail)
    Unreadable,  // not a journal, or one from a newer version
};

struct JournalContents {
    JournalState state = JournalState::Empty;
    std::vector<JournalRow> rows;
    size_t wholeBytes = 0;  // up to the end of the last whole line; a cut-off tail follows
    bool damaged = false;   // a line was skipped or cut off
    int damagedLines = 0;   // how many, a cut-off tail included
    int droppedRows = 0;    // older rows beyond maxRows, not in rows
    int rowsInFile = 0;     // rows the file holds as in the table: shown, dropped and damaged
    size_t keptBytes = 0;   // the file up to its last K line; 0 without one
};

// Reads a journal piece by piece, as it comes off the disk: only the newest
// maxRows rows are kept (as their lines), and a line longer than any row is
// skipped without being held, so memory stays bounded by the table.
class CJournalReader {
public:
    explicit CJournalReader(int maxRows = INT32_MAX);
    void Feed(std::string_view bytes);
    JournalContents Finish();

private:
    void TakeLine(std::string_view line);
    void TakeRow(std::string_view line);
    void DropFirstLive(int count);
    void Push(std::string_view line);

    size_t m_maxRows;
    std::string m_pending;    // the start of a line not yet ended
    bool m_skipping = false;  // inside an overlong line
    bool m_headerSeen = false;
    size_t m_offset = 0;      // bytes taken so far
    int m_damagedSinceRow = 0;
    long long m_live = 0;     // rows the file holds as in the table
    // The newest live rows as lines, oldest first; an empty line stands
    // for a row whose line was damaged.
    std::vector<std::string> m_ring;
    size_t m_ringStart = 0;
    size_t m_ringCount = 0;
    JournalContents m_contents;
};

// At most maxRows rows are returned, the newest; the older ones are only
// counted, so a journal of millions of rows is read in about a second.
JournalContents ReadJournal(std::string_view bytes, int maxRows = INT32_MAX);

uint32_t Crc32(std::string_view bytes);

}  // namespace tarvex
