// The journal reader on arbitrary files: it never reads past what it calls
// whole, a file without rows is never offered, the file read in two pieces
// (as it comes off the disk) gives what it gives whole, and what it read is
// written and read again to the very same rows.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "journal/JournalFormat.h"

using tarvex::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarvex;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const JournalContents read = ReadJournal(bytes);
    Check(read.wholeBytes <= size);
    CJournalReader pieces;
    const size_t cut = size > 0 ? data[0] % (size + 1) : 0;
    pieces.Feed(bytes.substr(0, cut));
    pieces.Feed(bytes.substr(cut));
    const JournalContents inPieces = pieces.Finish();
    Check(inPieces.state == read.state && inPieces.rows.size() == read.rows.size() &&
          inPieces.damagedLines == read.damagedLines && inPieces.wholeBytes == read.wholeBytes &&
          inPieces.keptBytes == read.keptBytes && inPieces.rowsInFile == read.rowsInFile &&
          inPieces.lastSeq == read.lastSeq && inPieces.desk == read.desk);
    Check((read.state == JournalState::Rows) == !read.rows.empty());
    if (read.state == JournalState::Unreadable) return 0;
    std::string again = JournalHeader();
    for (size_t i = 0; i < read.rows.size(); ++i) again += FormatJournalLine(static_cast<int>(i), read.rows[i]);
    const JournalContents reread = ReadJournal(again);
    Check(!reread.damaged && reread.rows.size() == read.rows.size());
    for (size_t i = 0; i < read.rows.size(); ++i) {
        const RowRecord& a = read.rows[i];
        const RowRecord& b = reread.rows[i];
        Check(a.kind == b.kind && a.time == b.time && a.cells == b.cells && a.desk == b.desk && a.seq == b.seq);
        Check(a.kilograms == b.kilograms || (a.kilograms != a.kilograms && b.kilograms != b.kilograms));
    }
    return 0;
}
