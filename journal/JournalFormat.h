#pragma once
// The journal's text: one header line, then one line per table row, each
// carrying what is needed to show the row again and a check of its own, so a
// half-written or damaged line is told from a whole one.
//
//   TARVEX-SCALE-JOURNAL<TAB>2
//   S<TAB>desk<TAB>seq<TAB>crc32   the desk's readings so far: no seq up to
//                              this one is ever given again (written first
//                              and again whenever the file starts anew)
//   R<TAB>row<TAB>desk<TAB>seq<TAB>kind<TAB>kilograms<TAB>time<TAB>six cells...<TAB>digits<TAB>unit<TAB>crc32
//                              digits and unit: the weight as a scale said
//                              it, both empty for the frames' readings
//   X<TAB>count<TAB>crc32      the first count rows above left the table
//   K<TAB>count<TAB>crc32      they left it too, but no copy of them could be
//                              made: the file up to here is copied aside
//                              before it is ever emptied
//
// A journal of version 1 has no S lines and no desk or seq in its rows, one
// of version 2 no digits and unit; both are read all the same. Rows that left the table stay in the file as the
// readings an output may still ask for, until the file is started anew.
// A damaged line is skipped; a row after it may then take the place of the
// rows that line held, so a bad line hides nothing that follows it.
// Cells are UTF-8 with backslash, control bytes and DEL written as \xHH.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "weighing/RowRecord.h"

namespace tarvex {

constexpr int JOURNAL_VERSION = 3;
inline constexpr std::string_view JOURNAL_MAGIC = "TARVEX-SCALE-JOURNAL";

std::string JournalHeader();
// The first lines of a journal: the header and the desk's count.
std::string JournalStart(std::string_view desk, uint64_t lastSeq);
std::string FormatSeqLine(std::string_view desk, uint64_t lastSeq);
std::string FormatJournalLine(int row, const RowRecord& record);
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
    std::vector<RowRecord> rows;
    size_t wholeBytes = 0;  // up to the end of the last whole line; a cut-off tail follows
    bool damaged = false;   // a line was skipped or cut off
    int damagedLines = 0;   // how many, a cut-off tail included
    int droppedRows = 0;    // older rows beyond maxRows, not in rows
    int rowsInFile = 0;     // rows the file holds as in the table: shown, dropped and damaged
    size_t keptBytes = 0;   // the file up to its last K line; 0 without one
    int version = JOURNAL_VERSION;
    std::string desk;       // of the last S line; empty without one
    uint64_t lastSeq = 0;   // the highest seq that desk has given
    uint64_t firstSeq = 0;  // the lowest of its rows in the file; 0 for none
    int rowLines = 0;       // row lines in the file, those that left the table too
};

// Every whole row line of a journal's text, in the file's order, those that
// left the table too; for an output that asks again from a seq on.
class CJournalRowScanner {
public:
    // take(record) returns false to stop.
    template <typename Take>
    void Feed(std::string_view bytes, Take&& take);

private:
    bool TakeLine(std::string_view line, RowRecord& record);
    std::string m_pending;
    bool m_headerSeen = false;
    bool m_stopped = false;
    int m_version = 0;
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
    void NoteSeq(std::string_view desk, uint64_t seq);

    size_t m_maxRows;
    std::string m_pending;    // the start of a line not yet ended
    bool m_skipping = false;  // inside an overlong line
    bool m_headerSeen = false;
    size_t m_offset = 0;      // bytes taken so far
    std::string m_deskField;  // of the last S line, escaped
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

template <typename Take>
void CJournalRowScanner::Feed(std::string_view bytes, Take&& take) {
    RowRecord record;
    while (!bytes.empty() && !m_stopped) {
        const size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            m_pending.append(bytes);
            return;
        }
        bool row = false;
        if (m_pending.empty()) {
            row = TakeLine(bytes.substr(0, end), record);
        } else {
            m_pending.append(bytes.substr(0, end));
            row = TakeLine(m_pending, record);
            m_pending.clear();
        }
        bytes.remove_prefix(end + 1);
        if (row && !take(record)) m_stopped = true;
    }
}

}  // namespace tarvex
