#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <csignal>
#include <thread>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "weighing/CellTexts.h"
#include "journal/Journal.h"
#include "text/TextCodec.h"
#include "tests/support/RecordingHosts.h"
#ifndef _WIN32
#include "tests/support/FileSizeLimit.h"
#endif
#include "weighing/WeightText.h"

namespace tarvex {
namespace {

using test::CoreFixture;
#ifndef _WIN32
using test::FileSizeLimit;
#endif
using test::TempDir;
using test::WeightFrame;
using Bytes = std::vector<uint8_t>;

RowRecord Row(RowKind kind, double kg, std::wstring data, std::wstring explan = L"") {
    RowRecord r;
    r.kind = kind;
    r.kilograms = kg;
    r.time = 1796565787;
    r.cells = {L"       1", std::move(data), L"KG", L"00:00:07", L"14:03:07 12/06/2026", std::move(explan)};
    return r;
}

std::string JournalOf(const std::vector<RowRecord>& rows) {
    std::string bytes = JournalHeader();
    for (size_t i = 0; i < rows.size(); ++i) bytes += FormatJournalLine(static_cast<int>(i), rows[i]);
    return bytes;
}

void ExpectSameRows(const std::vector<RowRecord>& got, const std::vector<RowRecord>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].kind, want[i].kind) << i;
        EXPECT_EQ(got[i].kilograms, want[i].kilograms) << i;
        EXPECT_EQ(got[i].time, want[i].time) << i;
        EXPECT_EQ(got[i].cells, want[i].cells) << i;
        EXPECT_EQ(got[i].desk, want[i].desk) << i;
        EXPECT_EQ(got[i].seq, want[i].seq) << i;
        EXPECT_EQ(got[i].scaleDigits, want[i].scaleDigits) << i;
        EXPECT_EQ(got[i].scaleUnit, want[i].scaleUnit) << i;
    }
}

RowRecord ScaleRow(std::string digits, std::string unit, double kg) {
    RowRecord r = Row(RowKind::Weight, kg, WideFromUtf8(digits));
    r.scaleDigits = std::move(digits);
    r.scaleUnit = std::move(unit);
    return r;
}

const std::vector<RowRecord> kRows = {
    Row(RowKind::Weight, 1234.5, L"1234.5"),
    Row(RowKind::Weight, 0.1 + 0.2, L"0.3000"),  // not a short decimal: must survive exactly
    Row(RowKind::Overweight, WEIGHT_OVERWEIGHT, L"超重"),
    Row(RowKind::Error, WEIGHT_ERROR, L"ERR", std::wstring(L"Bad:\t\n\r\\x41\x7F\xFF") + wchar_t(1)),
};

TEST(JournalFormat, AVersionTwoRowWrittenByHandReadsWithoutDigits) {
    std::string row = "R\t0\tPACK-3\t7\tW\t1.5\t1796565787\t       1\t1.500\tKG\t00:00:07\t14:03:07 12/06/2026\t\t";
    char check[9];
    std::snprintf(check, sizeof check, "%08X", Crc32(row));
    const JournalContents read = ReadJournal("TARVEX-SCALE-JOURNAL\t2\n" + row + check + "\n");
    ASSERT_EQ(read.rows.size(), 1u);
    EXPECT_FALSE(read.damaged);
    EXPECT_EQ(read.version, 2);
    EXPECT_EQ(read.rows[0].seq, 7u);
    EXPECT_EQ(read.rows[0].kilograms, 1.5);
    EXPECT_EQ(read.rows[0].cells[COLUMN_DATA], L"1.500");
    EXPECT_TRUE(read.rows[0].scaleUnit.empty());
}

TEST(JournalFormat, EveryKindOfRowReadsBackExactly) {
    std::vector<RowRecord> rows = kRows;
    rows.push_back(ScaleRow("-0.250", "lb", -0.1133980925));
    rows.push_back(ScaleRow("7\t\\", "\xC2\xB5g", 0));  // what a hostile ASCII line could carry
    const JournalContents read = ReadJournal(JournalOf(rows));
    EXPECT_EQ(read.state, JournalState::Rows);
    EXPECT_FALSE(read.damaged);
    ExpectSameRows(read.rows, rows);
    EXPECT_EQ(read.wholeBytes, JournalOf(rows).size());
}

TEST(JournalFormat, DamageKeepsEveryWholeRowBeforeIt) {
    const std::string whole = JournalOf(kRows);
    const size_t lastLine = whole.rfind('\n', whole.size() - 2) + 1;
    std::string flipped = whole;
    flipped[lastLine + 12] ^= 0x01;  // a bit flipped inside the last row
    std::string renumbered = JournalOf({kRows[0], kRows[1]}) + FormatJournalLine(5, kRows[2]);
    const struct {
        const char* name;
        std::string bytes;
        size_t rows;
    } cases[] = {
        {"last line cut off", whole.substr(0, whole.size() - 5), 3},
        {"last line without its end", whole.substr(0, whole.size() - 1), 3},
        {"garbage after the rows", whole + "\x01\x02garbage\n", 4},
        {"zeros after a power cut", whole + std::string(4096, '\0'), 4},
        {"bit flipped in the last row", flipped, 3},
        {"a row number out of order", renumbered, 2},
    };
    for (const auto& c : cases) {
        const JournalContents read = ReadJournal(c.bytes);
        EXPECT_TRUE(read.damaged) << c.name;
        EXPECT_EQ(read.state, JournalState::Rows) << c.name;
        ExpectSameRows(read.rows, std::vector<RowRecord>(kRows.begin(), kRows.begin() + static_cast<long>(c.rows)));
        EXPECT_EQ(c.bytes.substr(0, read.wholeBytes), JournalOf(read.rows)) << c.name;
    }
}

TEST(JournalFormat, ADamagedLineHidesNoSoundRowAfterIt) {
    const std::string one = JournalOf({kRows[0]});
    const std::string two = JournalOf({kRows[0], kRows[1]});
    std::string flipped = FormatJournalLine(1, kRows[1]);
    flipped[12] ^= 0x01;
    std::string flippedMark = FormatClearedLine(1);
    flippedMark[2] = '7';
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<RowRecord> rows;
        int damagedLines;
        int rowsInFile;  // the damaged row still counts where it stood
    };
    const std::vector<Case> cases{
        {"a row with a wrong check", one + flipped + FormatJournalLine(2, kRows[2]) + FormatJournalLine(3, kRows[3]),
         {kRows[0], kRows[2], kRows[3]}, 1, 4},
        {"a garbage line", one + "R\t1\tW\tx\n" + FormatJournalLine(2, kRows[2]), {kRows[0], kRows[2]}, 1, 3},
        {"a line written twice", two + FormatJournalLine(1, kRows[1]) + FormatJournalLine(2, kRows[2]),
         {kRows[0], kRows[1], kRows[2]}, 1, 3},
        {"two rows run together", one + "R\t1\tW\t1" + FormatJournalLine(2, kRows[2]) + FormatJournalLine(3, kRows[3]),
         {kRows[0], kRows[3]}, 1, 4},
        {"a damaged clear mark", two + flippedMark + FormatJournalLine(1, kRows[2]), {kRows[1], kRows[2]}, 1, 2},
        {"a line longer than any row", one + std::string(3 << 20, 'R') + "\n" + FormatJournalLine(2, kRows[2]),
         {kRows[0], kRows[2]}, 1, 3},
        {"damage told before a keep mark is not told again",
         two + "garbage\n" + FormatKeptLine(2) + FormatJournalLine(0, kRows[3]), {kRows[3]}, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const JournalContents read = ReadJournal(c.bytes);
        ExpectSameRows(read.rows, c.rows);
        EXPECT_EQ(read.damagedLines, c.damagedLines);
        EXPECT_EQ(read.rowsInFile, c.rowsInFile);
        // The same bytes in pieces of any size read the same.
        for (const size_t piece : {size_t{1}, size_t{7}, size_t{4096}}) {
            CJournalReader reader;
            for (size_t at = 0; at < c.bytes.size(); at += piece)
                reader.Feed(std::string_view(c.bytes).substr(at, piece));
            const JournalContents pieces = reader.Finish();
            ExpectSameRows(pieces.rows, c.rows);
            EXPECT_EQ(pieces.damagedLines, c.damagedLines);
        }
    }
}

TEST(JournalFormat, ClearedRowsLeaveAndOnlyTheNewestAreDecoded) {
    const std::string four = JournalOf(kRows);
    struct Case {
        const char* name;
        std::string bytes;
        int maxRows;
        std::vector<RowRecord> rows;
        int dropped;
        bool damaged;
    };
    const std::vector<Case> cases{
        {"three cleared, one new row numbered after the one left",
         four + FormatClearedLine(3) + FormatJournalLine(1, kRows[0]), INT32_MAX, {kRows[3], kRows[0]}, 0, false},
        {"all cleared", four + FormatClearedLine(4), INT32_MAX, {}, 0, false},
        {"more cleared than there are rows", four + FormatClearedLine(5), INT32_MAX, kRows, 0, true},
        {"a new row numbered as if nothing was cleared",
         four + FormatClearedLine(2) + FormatJournalLine(4, kRows[0]), INT32_MAX, {kRows[2], kRows[3]}, 0, true},
        {"newest two of four", four, 2, {kRows[2], kRows[3]}, 2, false},
        {"newest of what is left after a clear", four + FormatClearedLine(1), 1, {kRows[3]}, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const JournalContents read = ReadJournal(c.bytes, c.maxRows);
        ExpectSameRows(read.rows, c.rows);
        EXPECT_EQ(read.droppedRows, c.dropped);
        EXPECT_EQ(read.damaged, c.damaged);
    }
}

TEST(JournalFormat, LineChecksAreTheStandardCrc32) {
    EXPECT_EQ(Crc32(""), 0x00000000u);
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);  // the check value of CRC-32
    EXPECT_EQ(Crc32("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
}

// A line as a journal of version 2 holds it on disk, written field by field
// here rather than by the writer: the fields, a tab and the CRC-32 of both.
std::string HandLine(std::string fields) {
    fields += '\t';
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(Crc32(fields)));
    return fields + crc + "\n";
}

TEST(JournalFormat, AVersionTwoFileWrittenByHandReadsBack) {
    // Desk "称重台-2" had given seq 39 when the file began; three readings
    // followed, the first of which left the table with a clear.
    const std::string bytes = std::string("TARVEX-SCALE-JOURNAL\t2\n") + HandLine("S\t称重台-2\t39") +
                              HandLine("R\t0\t称重台-2\t40\tW\t1.25\t1796565787\t       1\t1.2500\tKG\t00:00:07\t"
                                       "14:03:07 12/06/2026\t") +
                              HandLine("X\t1") +
                              HandLine("R\t0\t称重台-2\t41\tO\t555.5\t1796565790\t       2\t超重\tKG\t00:00:10\t"
                                       "14:03:10 12/06/2026\t") +
                              HandLine("R\t1\t称重台-2\t42\tE\t0\t1796565791\t       3\tError\tKG\t00:00:11\t"
                                       "14:03:11 12/06/2026\tDamaged frame:_\\x08\\x00\\x5C");
    const JournalContents read = ReadJournal(bytes);
    EXPECT_EQ(read.state, JournalState::Rows);
    EXPECT_EQ(read.version, 2);
    EXPECT_FALSE(read.damaged);
    EXPECT_EQ(read.desk, "称重台-2");
    EXPECT_EQ(read.lastSeq, 42u);
    EXPECT_EQ(read.firstSeq, 40u);
    EXPECT_EQ(read.rowLines, 3);
    EXPECT_EQ(read.wholeBytes, bytes.size());
    RowRecord over;
    over.kind = RowKind::Overweight;
    over.kilograms = 555.5;
    over.time = 1796565790;
    over.cells = {L"       2", L"超重", L"KG", L"00:00:10", L"14:03:10 12/06/2026", L""};
    over.desk = "称重台-2";
    over.seq = 41;
    RowRecord error = over;
    error.kind = RowKind::Error;
    error.kilograms = 0;
    error.time = 1796565791;
    // On disk a control byte, a zero byte and the backslash are \xHH.
    error.cells = {L"       3", L"Error", L"KG", L"00:00:11", L"14:03:11 12/06/2026",
                   std::wstring(L"Damaged frame:_") + L'\x08' + L'\0' + L'\\'};
    error.seq = 42;
    // Only the rows still in the table are offered back.
    ExpectSameRows(read.rows, {over, error});
}

TEST(JournalFormat, AWeightThatIsNoNumberOfAWeighingIsDamage) {
    const std::string good = HandLine("R\t0\td\t1\tW\t1.25\t1796565787\t       1\t1.2500\tKG\t00:00:07\t\t");
    for (const char* weight : {"nan", "-nan", "inf", "-inf", "1e300", "2000000"}) {
        const std::string bad = HandLine(std::string("R\t0\td\t2\tW\t") + weight +
                                         "\t1796565788\t       2\t1.0\tKG\t00:00:08\t\t");
        const JournalContents read = ReadJournal(std::string("TARVEX-SCALE-JOURNAL\t2\n") + HandLine("S\td\t0") + good + bad);
        EXPECT_TRUE(read.damaged) << weight;
        ASSERT_EQ(read.rows.size(), 1u) << weight;
        EXPECT_EQ(read.rows[0].kilograms, 1.25);
    }
}

TEST(JournalFormat, WhatHoldsNoRowsOrIsNotOurs) {
    const struct {
        const char* name;
        std::string bytes;
        JournalState state;
    } cases[] = {
        {"no file", "", JournalState::Empty},
        {"header only", JournalHeader(), JournalState::Empty},
        {"header cut off", JournalHeader().substr(0, 7), JournalState::Empty},
        {"a newer version", "TARVEX-SCALE-JOURNAL\t4\nR\t0\t...\n", JournalState::Unreadable},
        {"another file", "[Language_Configuration]\nLanguage_Name=English\n", JournalState::Unreadable},
        {"binary", std::string("\x89PNG\r\n\x1a\n", 8), JournalState::Unreadable},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadJournal(c.bytes).state, c.state) << c.name;
}

// Reads the journal file as another process would: through a fresh handle.
JournalContents ReadFile(const std::filesystem::path& path) { return ReadJournal(TempDir::Read(path)); }

TEST(JournalFile, RowsReachTheFileAsTheyAreAddedAndTheDiskWithinASecond) {
    TempDir dir;
    CJournal journal;
    std::wstring reason;
    ASSERT_TRUE(journal.Open(dir.Path() / "data", reason)) << reason;
    journal.SetFoundAside();
    for (size_t i = 0; i < kRows.size(); ++i) {
        journal.RowAdded(static_cast<int>(i), kRows[i]);
        // No close, no flush asked for: a killed program leaves exactly this.
        EXPECT_EQ(ReadFile(journal.Path()).rows.size(), i + 1);
    }
    EXPECT_TRUE(journal.HasUnsyncedRows());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (journal.HasUnsyncedRows() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(journal.HasUnsyncedRows()) << "the rows were never pushed to the disk";
}

TEST(JournalFile, FoundRowsAreOfferedAndKeptAsideNeverDeleted) {
    TempDir dir;
    const std::string earlier = JournalOf(kRows);
    dir.Write("journal.txt", earlier);
    CJournal journal;
    std::wstring reason;
    ASSERT_TRUE(journal.Open(dir.Path(), reason));
    ASSERT_EQ(journal.Found().state, JournalState::Rows);
    ExpectSameRows(journal.Found().rows, kRows);
    journal.SetFoundAside();
    ASSERT_FALSE(journal.LastSetAside().empty());
    EXPECT_EQ(TempDir::Read(journal.LastSetAside()), earlier);
    EXPECT_EQ(ReadFile(journal.Path()).state, JournalState::Empty);
    journal.RowAdded(0, kRows[3]);
    ExpectSameRows(ReadFile(journal.Path()).rows, {kRows[3]});
}

TEST(JournalFile, ContinuingDropsADamagedTailAfterCopyingItAside) {
    TempDir dir;
    const std::string damaged = JournalOf({kRows[0], kRows[1]}) + "R\t2\tW\t5";  // cut off mid-row
    dir.Write("journal.txt", damaged);
    CJournal journal;
    std::wstring reason;
    ASSERT_TRUE(journal.Open(dir.Path(), reason));
    EXPECT_TRUE(journal.Found().damaged);
    journal.ContinueWithFound();
    EXPECT_EQ(TempDir::Read(journal.LastSetAside()), damaged);
    journal.RowAdded(2, kRows[2]);
    const JournalContents read = ReadFile(journal.Path());
    EXPECT_FALSE(read.damaged);
    ExpectSameRows(read.rows, {kRows[0], kRows[1], kRows[2]});
}

TEST(JournalFile, AnUnreadableJournalIsKeptAsideAndANewOneBegins) {
    TempDir dir;
    const std::string newer = "TARVEX-SCALE-JOURNAL\t7\nsomething new\n";
    dir.Write("journal.txt", newer);
    CJournal journal;
    std::wstring reason;
    ASSERT_TRUE(journal.Open(dir.Path(), reason));
    EXPECT_EQ(journal.Found().state, JournalState::Unreadable);
    journal.ContinueWithFound();
    EXPECT_EQ(TempDir::Read(journal.LastSetAside()), newer);
    EXPECT_EQ(ReadFile(journal.Path()).state, JournalState::Empty);
}

TEST(JournalFile, ASecondRunningCopyTakesAJournalOfItsOwn) {
    TempDir dir;
    CJournal first, second;
    std::wstring reason;
    ASSERT_TRUE(first.Open(dir.Path(), reason));
    ASSERT_TRUE(second.Open(dir.Path(), reason));
    EXPECT_NE(first.Path(), second.Path());
}

TEST(JournalFile, AFolderThatCannotBeMadeGivesTheReason) {
    TempDir dir;
    dir.Write("taken", "a file where the folder should be");
    CJournal journal;
    std::wstring reason;
    EXPECT_FALSE(journal.Open(dir.Path() / "taken" / "data", reason));
    EXPECT_FALSE(reason.empty());
    journal.RowAdded(0, kRows[0]);  // harmless without a journal
}

#ifndef _WIN32
TEST(JournalFile, AFailedWriteIsToldOnceAndLeavesWholeRowsUntilTheTableIsEmptied) {
    TempDir dir;
    CJournal journal;
    std::wstring reason;
    ASSERT_TRUE(journal.Open(dir.Path(), reason)) << reason;
    journal.SetFoundAside();
    std::vector<std::wstring> told;
    journal.OnFailure([&](const std::wstring& why) { told.push_back(why); });
    journal.RowAdded(0, kRows[0]);
    {
        // Room for half of the next row: it is cut off by the limit.
        const auto size = std::filesystem::file_size(journal.Path());
        FileSizeLimit limit(size + FormatJournalLine(1, kRows[1]).size() / 2);
        for (int row = 1; row < 4; ++row) journal.RowAdded(row, kRows[static_cast<size_t>(row)]);
    }
    ASSERT_EQ(told.size(), 1u);
    EXPECT_FALSE(told[0].empty());
    EXPECT_TRUE(journal.HasFailed());
    // Nothing half written and nothing after the gap: a restart shows row 0.
    JournalContents read = ReadFile(journal.Path());
    EXPECT_FALSE(read.damaged);
    ExpectSameRows(read.rows, {kRows[0]});
    journal.RowAdded(4, kRows[3]);  // room again, but the table has a gap
    ExpectSameRows(ReadFile(journal.Path()).rows, {kRows[0]});

    journal.TableEmptied(false);
    EXPECT_FALSE(journal.HasFailed());
    journal.RowAdded(0, kRows[2]);
    ExpectSameRows(ReadFile(journal.Path()).rows, {kRows[2]});
    EXPECT_EQ(told.size(), 1u);
}

#endif

// Takes every name a copy aside could have in the next few seconds, so the
// copy fails (a folder nobody may write, as seen by root) while the journal
// itself still takes writes. The names go when it ends.
class AsideNamesTaken {
public:
    explicit AsideNamesTaken(const std::filesystem::path& folder) {
        const auto now = static_cast<int64_t>(std::time(nullptr));
        for (int64_t t = now; t < now + 3; ++t) {
            const std::string stamp = Utf8FromWide(FormatLocalTime(t, "%Y-%m-%d-%H-%M-%S"));
            for (int n = 1; n < 100; ++n) {
                m_names.push_back(folder / ("journal-kept-" + stamp + (n > 1 ? "-" + std::to_string(n) : "") + ".txt"));
                std::ofstream(m_names.back()) << "taken";
            }
        }
    }
    ~AsideNamesTaken() {
        std::error_code ignored;
        for (const auto& name : m_names) std::filesystem::remove(name, ignored);
    }

private:
    std::vector<std::filesystem::path> m_names;
};

std::vector<std::filesystem::path> CopiesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> copies;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind("journal-", 0) == 0) copies.push_back(entry.path());
    return copies;
}

TEST(JournalFile, RowsNotWantedThatCannotBeCopiedStayInTheFileAndAreNeverMixedWithNewOnes) {
    TempDir dir;
    dir.Write("journal.txt", JournalOf(kRows));
    CJournal journal;
    std::wstring reason;
    ASSERT_TRUE(journal.Open(dir.Path(), reason));
    {
        AsideNamesTaken taken(dir.Path());
        EXPECT_FALSE(journal.SetFoundAside(&reason));
    }
    EXPECT_FALSE(reason.empty());
    EXPECT_TRUE(journal.IsOpen());
    journal.RowAdded(0, kRows[1]);
    journal.RowAdded(1, kRows[2]);
    // A restart offers only the new rows; the old ones are still in the file.
    const std::string bytes = TempDir::Read(journal.Path());
    EXPECT_EQ(bytes.rfind(JournalOf(kRows), 0), 0u);
    ExpectSameRows(ReadJournal(bytes).rows, {kRows[1], kRows[2]});
    // Emptying the table copies the whole file aside before starting anew.
    journal.TableEmptied(false);
    const auto copies = CopiesIn(dir.Path());
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(TempDir::Read(copies[0]), bytes);
    EXPECT_EQ(ReadFile(journal.Path()).state, JournalState::Empty);
}

TEST(JournalFile, RowsKeptBehindAMarkSurviveRestartsAndClearsUntilTheyAreInAFileOfTheirOwn) {
    TempDir dir;
    const std::string earlier = JournalOf(kRows);
    dir.Write("journal.txt", earlier);
    {
        // The clerk answers No and no copy can be made: told they stay.
        CJournal first;
        std::wstring reason;
        ASSERT_TRUE(first.Open(dir.Path(), reason));
        AsideNamesTaken taken(dir.Path());
        ASSERT_FALSE(first.SetFoundAside(&reason));
    }
    const std::filesystem::path path = dir.Path() / "journal.txt";
    std::vector<std::wstring> toldKept;
    for (const bool copyPossible : {false, true}) {
        SCOPED_TRACE(copyPossible ? "a copy can be made again" : "still no copy");
        CJournal next;  // a restart
        std::wstring reason;
        ASSERT_TRUE(next.Open(dir.Path(), reason));
        EXPECT_EQ(next.Found().state, JournalState::Empty);  // never offered again
        next.OnKeptInPlace([&](const std::wstring& why) { toldKept.push_back(why); });
        next.ContinueWithFound();
        next.RowAdded(0, kRows[1]);
        next.RowAdded(1, kRows[2]);
        next.FirstRowsCleared(1);  // a save and Yes while a reading came in
        std::optional<AsideNamesTaken> taken;
        if (!copyPossible) taken.emplace(dir.Path());
        next.TableEmptied(false);
        if (!copyPossible) {
            ASSERT_EQ(toldKept.size(), 1u);
            EXPECT_FALSE(toldKept[0].empty());
            EXPECT_EQ(TempDir::Read(path).rfind(earlier, 0), 0u) << "the kept rows left the journal";
            for (const auto& copy : CopiesIn(dir.Path())) EXPECT_EQ(TempDir::Read(copy), "taken");
        }
    }
    EXPECT_EQ(toldKept.size(), 1u);
    const auto copies = CopiesIn(dir.Path());
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(TempDir::Read(copies[0]).rfind(earlier, 0), 0u);
    EXPECT_EQ(TempDir::Read(path), JournalStart("", 0));
}

TEST(JournalFile, ADamagedJournalIsCopiedAsItWasAndGoesOnWithoutTheDamage) {
    TempDir dir;
    std::string flipped = FormatJournalLine(1, kRows[1]);
    flipped[12] ^= 0x01;
    const std::string damaged = JournalOf({kRows[0]}) + flipped + FormatJournalLine(2, kRows[2]) +
                                FormatJournalLine(2, kRows[2]) + FormatJournalLine(3, kRows[3]);
    dir.Write("journal.txt", damaged);
    CJournal journal;
    std::wstring reason;
    ASSERT_TRUE(journal.Open(dir.Path(), reason));
    EXPECT_EQ(journal.Found().damagedLines, 2);
    ExpectSameRows(journal.Found().rows, {kRows[0], kRows[2], kRows[3]});
    ASSERT_TRUE(journal.DamagedCopyMade());
    EXPECT_EQ(TempDir::Read(journal.LastSetAside()), damaged);
    journal.ContinueWithFound();
    journal.RowAdded(3, kRows[1]);
    const JournalContents read = ReadFile(journal.Path());
    EXPECT_FALSE(read.damaged);
    ExpectSameRows(read.rows, {kRows[0], kRows[2], kRows[3], kRows[1]});
    EXPECT_EQ(CopiesIn(dir.Path()).size(), 1u);
}

#ifndef _WIN32
TEST(JournalFile, WhatStandsInTheJournalsPlaceAndIsNoFileIsLeftAlone) {
    TempDir dir;
    std::filesystem::create_symlink("/dev/zero", dir.Path() / "journal.txt");
    ASSERT_EQ(::mkfifo((dir.Path() / "journal.2.txt").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.Path() / "journal.3.txt");
    CJournal journal;
    std::wstring reason;
    ASSERT_TRUE(journal.Open(dir.Path(), reason));
    EXPECT_EQ(journal.Path(), dir.Path() / "journal.4.txt");
    EXPECT_EQ(journal.NotAFile(), dir.Path() / "journal.txt");
    EXPECT_TRUE(journal.OthersLeftBehind().empty());
}

// The journal's folder as a read-only file system: a bind mount, which
// stops root too. Skipped where the test may not mount.
class ReadOnlyMount {
public:
    explicit ReadOnlyMount(const std::filesystem::path& folder) : m_folder(folder) {
        m_mounted = ::geteuid() == 0 && Run("mount --bind '" + folder.string() + "' '" + folder.string() + "'");
        if (m_mounted && !Writable(false)) Release();
    }
    ~ReadOnlyMount() { Release(); }
    bool Mounted() const { return m_mounted; }
    bool Writable(bool writable) {
        return Run("mount -o remount,bind," + std::string(writable ? "rw" : "ro") + " '" + m_folder.string() + "'");
    }

private:
    static bool Run(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()) == 0; }
    void Release() {
        if (m_mounted) Run("umount -l '" + m_folder.string() + "'");
        m_mounted = false;
    }
    std::filesystem::path m_folder;
    bool m_mounted = false;
};

TEST(JournalFile, AJournalOnAReadOnlyDiskIsOfferedAndWrittenWholeOnceItCanBe) {
    for (const bool shown : {true, false}) {
        SCOPED_TRACE(shown ? "shown again" : "not wanted now");
        TempDir dir;
        const std::filesystem::path folder = dir.Path() / "data";
        dir.Write("data/journal.txt", JournalOf({kRows[0], kRows[1]}));
        ReadOnlyMount mount(folder);
        if (!mount.Mounted()) GTEST_SKIP() << "no read-only bind mount here";
        CJournal journal;
        std::wstring reason;
        ASSERT_TRUE(journal.Open(folder, reason)) << reason;
        EXPECT_NE(journal.ReadOnlyReason().find(L"Read-only"), std::wstring::npos);
        ExpectSameRows(journal.Found().rows, {kRows[0], kRows[1]});
        journal.SetRetryInterval(std::chrono::milliseconds(0));
        int recovered = 0;
        journal.OnRecovered([&] { ++recovered; });
        std::vector<RowRecord> table;
        if (shown) {
            journal.ContinueWithFound();
            table = {kRows[0], kRows[1]};
        } else {
            EXPECT_FALSE(journal.SetFoundAside(&reason));
            EXPECT_FALSE(reason.empty());
        }
        table.push_back(kRows[2]);
        const auto rowAt = [&](int r) { return table[static_cast<size_t>(r)]; };
        ASSERT_TRUE(journal.WantsWholeTable());
        journal.WriteWholeTable(static_cast<int>(table.size()), rowAt);
        EXPECT_EQ(recovered, 0);
        ASSERT_TRUE(mount.Writable(true));
        journal.WriteWholeTable(static_cast<int>(table.size()), rowAt);
        EXPECT_EQ(recovered, 1);
        EXPECT_TRUE(journal.ReadOnlyReason().empty());
        journal.RowAdded(static_cast<int>(table.size()), kRows[3]);
        table.push_back(kRows[3]);
        const JournalContents read = ReadFile(journal.Path());
        ExpectSameRows(read.rows, table);
        // Rows not wanted stay in the file, kept for the next clear to copy.
        EXPECT_EQ(read.keptBytes > 0, !shown);
    }
}
#endif

#ifndef _WIN32
TEST(JournalFile, AfterAFailedWriteTheWholeTableIsWrittenAgainOnceThereIsRoom) {
    TempDir dir;
    CJournal journal;
    std::wstring reason;
    ASSERT_TRUE(journal.Open(dir.Path(), reason));
    journal.SetFoundAside();
    journal.SetRetryInterval(std::chrono::milliseconds(0));
    int failures = 0, recoveries = 0;
    journal.OnFailure([&](const std::wstring&) { ++failures; });
    journal.OnRecovered([&] { ++recoveries; });
    journal.RowAdded(0, kRows[0]);
    {
        FileSizeLimit limit(std::filesystem::file_size(journal.Path()) + 10);
        journal.RowAdded(1, kRows[1]);
        ASSERT_TRUE(journal.WantsWholeTable());
        journal.WriteWholeTable(2, [](int r) { return kRows[static_cast<size_t>(r)]; });  // still no room
        EXPECT_TRUE(journal.HasFailed());
    }
    ASSERT_TRUE(journal.WantsWholeTable());
    journal.WriteWholeTable(3, [](int r) { return kRows[static_cast<size_t>(r)]; });
    EXPECT_FALSE(journal.HasFailed());
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(recoveries, 1);
    journal.RowAdded(3, kRows[3]);
    ExpectSameRows(ReadFile(journal.Path()).rows, kRows);
    EXPECT_FALSE(std::filesystem::exists(journal.Path().string() + ".new"));
}

#endif

TEST(JournalFile, AJournalLargerThanTheTableKeepsTheNewestRowsAndCopiesTheRestAside) {
    TempDir dir;
    std::vector<RowRecord> many;
    for (int i = 0; i < 50; ++i) many.push_back(Row(RowKind::Weight, i, std::to_wstring(i)));
    dir.Write("journal.txt", JournalOf(many));
    CJournal journal;
    std::wstring reason;
    ASSERT_TRUE(journal.Open(dir.Path(), reason, 20));
    EXPECT_EQ(journal.Found().droppedRows, 30);
    const std::vector<RowRecord> newest(many.end() - 20, many.end());
    ExpectSameRows(journal.Found().rows, newest);
    journal.ContinueWithFound();
    ASSERT_FALSE(journal.LastSetAside().empty());
    ExpectSameRows(ReadFile(journal.LastSetAside()).rows, many);
    ExpectSameRows(ReadFile(journal.Path()).rows, newest);
}

TEST(JournalFile, JournalsOfCopiesThatEndedAreFoundButNotThoseOfRunningCopies) {
    TempDir dir;
    dir.Write("journal.txt", JournalOf({kRows[0]}));
    dir.Write("journal.2.txt", JournalOf({kRows[1], kRows[2]}));
    dir.Write("journal.3.txt", JournalOf({kRows[3]}));
    dir.Write("journal.4.txt", JournalHeader());  // no rows: nothing to offer
    std::wstring reason;
    CJournal running;
    ASSERT_TRUE(running.OpenLeftBehind(dir.Path() / "journal.3.txt"));
    CJournal journal;
    ASSERT_TRUE(journal.Open(dir.Path(), reason));
    EXPECT_EQ(journal.Path().filename(), "journal.txt");
    ASSERT_EQ(journal.OthersLeftBehind(), std::vector<std::filesystem::path>{dir.Path() / "journal.2.txt"});

    CJournal other;
    ASSERT_TRUE(other.OpenLeftBehind(dir.Path() / "journal.2.txt", 1));
    ExpectSameRows(other.Found().rows, {kRows[2]});
    EXPECT_EQ(other.Found().droppedRows, 1);
    ASSERT_TRUE(other.MoveAside());
    // Only the desk's count stays behind, and nothing is offered again.
    EXPECT_EQ(ReadFile(dir.Path() / "journal.2.txt").state, JournalState::Empty);
    EXPECT_TRUE(journal.OthersLeftBehind().empty());
    ExpectSameRows(ReadFile(other.LastSetAside()).rows, {kRows[1], kRows[2]});
}


RowRecord Reading(const std::string& desk, uint64_t seq) {
    RowRecord r = kRows[0];
    r.desk = desk;
    r.seq = seq;
    return r;
}

TEST(JournalFormat, TheDesksCountIsItsSLineOrItsHighestRowAndOtherDesksDoNotCount) {
    const std::string rows = FormatJournalLine(0, Reading("PACK-3", 42)) + FormatJournalLine(1, Reading("PACK-3-2", 99));
    const struct {
        const char* name;
        std::string bytes;
        uint64_t lastSeq;
    } cases[] = {
        {"rows after the count", JournalStart("PACK-3", 41) + rows, 42},
        {"a count above its rows (an emptied journal)", JournalStart("PACK-3", 50) + rows, 50},
        {"no S line: the first row's desk", JournalHeader() + rows, 42},
        {"a new name carries the count on", JournalStart("PACK-3", 41) + rows + FormatSeqLine("HALL", 42) +
                                                FormatJournalLine(2, Reading("HALL", 43)), 43},
    };
    for (const auto& c : cases) {
        const JournalContents read = ReadJournal(c.bytes);
        EXPECT_EQ(read.lastSeq, c.lastSeq) << c.name;
    }
    ExpectSameRows(ReadJournal(JournalStart("PACK-3", 41) + rows).rows, {Reading("PACK-3", 42), Reading("PACK-3-2", 99)});
}

TEST(JournalOutbox, ClearedReadingsStayReadableBySeqAcrossANewFileUntilNoOutputWaitsForThem) {
    TempDir dir;
    CJournal journal;
    std::wstring reason;
    ASSERT_TRUE(journal.Open(dir.Path(), reason)) << reason;
    journal.SetDesk("PACK-3");
    journal.ContinueWithFound();
    uint64_t seq = 0;
    const auto fillAndEmpty = [&] {
        for (int row = 0; row < JOURNAL_OUTBOX_ROWS; ++row) journal.RowAdded(row, Reading("PACK-3", ++seq));
        journal.TableEmptied(false);
    };
    const auto noRows = [](int) { return RowRecord{}; };
    fillAndEmpty();
    ASSERT_TRUE(journal.WantsNewFile());
    journal.StartNewFile(0, noRows);
    EXPECT_TRUE(std::filesystem::exists(journal.PreviousPath()));
    EXPECT_EQ(journal.ReadFrom(1, 2).back().seq, 2u);  // from the previous file
    fillAndEmpty();
    journal.RowAdded(0, Reading("PACK-3-2", 7));  // handed over from another desk: not this desk's
    const std::vector<RowRecord> across = journal.ReadFrom(JOURNAL_OUTBOX_ROWS - 1, 3);
    ASSERT_EQ(across.size(), 3u);
    EXPECT_EQ(across[2].seq, static_cast<uint64_t>(JOURNAL_OUTBOX_ROWS + 1));
    // An output still waits for readings only the previous file holds.
    journal.KeepFrom(10);
    EXPECT_FALSE(journal.WantsNewFile());
    journal.KeepFrom(JOURNAL_OUTBOX_ROWS + 1);
    ASSERT_TRUE(journal.WantsNewFile());
    journal.StartNewFile(0, noRows);
    EXPECT_EQ(journal.ReadFrom(1, 1).front().seq, static_cast<uint64_t>(JOURNAL_OUTBOX_ROWS + 1));
    EXPECT_EQ(journal.ReadFrom(seq, 10).size(), 1u);
    EXPECT_EQ(journal.LastSeq(), seq);
}

// The core with a journal: what it writes and what a restart shows again.
TEST(CoreJournal, ARestoredTableAtTheWarningRowIsToldItIsNearlyFullOnce) {
    CoreFixture f(RowLimits{3, 10});
    EXPECT_TRUE(f.core.RestoreRows(std::vector<RowRecord>(5, kRows[0])));
    f.Feed(WeightFrame(0x08, 1));
    EXPECT_EQ(f.hosts.nearlyFull, 0);
    f.core.ClearFirstRows(f.Rows());
    for (int i = 0; i < 4; ++i) f.Feed(WeightFrame(0x08, 1));
    EXPECT_EQ(f.hosts.nearlyFull, 1);  // the table reached the row again
}

TEST(CoreJournal, RestoredRowsShowInTheUnitNowSelectedAndNumberingContinues) {
    CoreFixture before;
    std::wstring reason;
    {
        CJournal journal;  // the first run ends with it
        ASSERT_TRUE(journal.Open(before.dir.Path() / "data", reason));
        journal.SetFoundAside();
        before.journal = &journal;
        before.core.SwitchUnit(UNIT_LB);
        before.Feed(WeightFrame(0x08, 1234));
        before.Feed({0x3F, 0, 0, 0, 0, 0});
        before.Feed({0x41, 0x42});
        before.Feed({0x41, 0x42});
        before.journal = nullptr;
    }

    CoreFixture after;
    after.core.SwitchUnit(UNIT_LBOZ);
    CJournal reopened;
    ASSERT_TRUE(reopened.Open(before.dir.Path() / "data", reason)) << reason;
    after.core.RestoreRows(reopened.Found().rows);
    ASSERT_EQ(after.Rows(), 3);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(after.Cell(r, COLUMN_NUMBER), before.Cell(r, COLUMN_NUMBER));
        EXPECT_EQ(after.Cell(r, COLUMN_UNIT), L"LB:OZ");
        for (int c : {COLUMN_DURATION, COLUMN_UPDATE_TIME, COLUMN_EXPLAN})
            EXPECT_EQ(after.Cell(r, c), before.Cell(r, c)) << r << "," << c;
    }
    EXPECT_EQ(after.Cell(0, COLUMN_DATA), FormatWeightText(1.234, UNIT_LBOZ));
    EXPECT_EQ(after.Cell(1, COLUMN_DATA), L"OVER");
    EXPECT_EQ(after.Cell(2, COLUMN_DATA), L"ERR");
    EXPECT_DOUBLE_EQ(after.core.WeightSum(), 1.234);
    after.core.SwitchUnit(UNIT_KG);
    EXPECT_EQ(after.Cell(0, COLUMN_DATA), FormatWeightText(1.234, UNIT_KG));
    after.Feed(WeightFrame(0x08, 5));
    EXPECT_EQ(after.Cell(3, COLUMN_NUMBER), L"       4");
}

}  // namespace
}  // namespace tarvex
