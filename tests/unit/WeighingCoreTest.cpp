#include <gtest/gtest.h>

#include "tests/support/RecordingHosts.h"
#include "weighing/CellTexts.h"
#include "weighing/WeightText.h"

namespace tarvex {
namespace {

using test::CoreFixture;
using test::WeightFrame;
using Bytes = std::vector<uint8_t>;

TEST(FrameJudging, GoodWeightFrameGivesRowAndAcknowledge) {
    CoreFixture f;
    f.now = f.core.StartTime() + 90061;
    f.Feed({0x5F, 0x02, 0x00, 0x30, 0x39, 0x54});
    ASSERT_EQ(f.Rows(), 1);
    EXPECT_EQ(f.Cell(0, COLUMN_NUMBER), L"       1");
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"1234.5");
    EXPECT_EQ(f.Cell(0, COLUMN_UNIT), L"KG");
    EXPECT_EQ(f.Cell(0, COLUMN_DURATION), L"01:01:01");
    EXPECT_EQ(f.Cell(0, COLUMN_EXPLAN), L"");
    EXPECT_FALSE(f.Cell(0, COLUMN_UPDATE_TIME).empty());
    EXPECT_EQ(f.core.Table().Row(0).kind, RowKind::Weight);
    EXPECT_DOUBLE_EQ(f.core.Table().Row(0).kilograms, 1234.5);
    EXPECT_EQ(f.hosts.commands, Bytes{CMD_ACK});
    EXPECT_EQ(f.hosts.addedRows, std::vector<int>{0});
}

TEST(FrameJudging, NegativeFoldedFrame) {
    CoreFixture f;
    f.Feed({0x5F, 0x44, 0x01, 0xE2, 0x40, 0xB8});
    ASSERT_EQ(f.Rows(), 1);
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"-123.45");
}

TEST(FrameJudging, DamagedFramesAlternateRepeatAndErrorRow) {
    CoreFixture f;
    const Bytes bad{0x5F, 0x02, 0x01, 0x30, 0x39, 0x54};
    f.Feed(bad);
    EXPECT_EQ(f.Rows(), 0);
    EXPECT_EQ(f.hosts.commands, Bytes{CMD_REPEAT});

    f.Feed(bad);
    ASSERT_EQ(f.Rows(), 1);
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"ERR");
    EXPECT_EQ(f.Cell(0, COLUMN_EXPLAN), std::wstring(L"Bad:") + L"\x5F\x02\x01\x30\x39\x54");
    EXPECT_EQ(f.Cell(0, COLUMN_UNIT), L"KG");
    EXPECT_EQ(f.core.Table().Row(0).kind, RowKind::Error);
    EXPECT_EQ(f.hosts.commands, (Bytes{CMD_REPEAT, CMD_ACK}));

    f.Feed(bad);
    EXPECT_EQ(f.Rows(), 1);
    EXPECT_EQ(f.hosts.commands, (Bytes{CMD_REPEAT, CMD_ACK, CMD_REPEAT}));

    // A good frame clears the pending repeat, so the next bad one asks again.
    f.Feed(WeightFrame(0x08, 1234));
    f.Feed(bad);
    EXPECT_EQ(f.Rows(), 2);
    EXPECT_EQ(f.hosts.commands, (Bytes{CMD_REPEAT, CMD_ACK, CMD_REPEAT, CMD_ACK, CMD_REPEAT}));
}

TEST(FrameJudging, ErrorRowRemarkKeepsTheBytesAfterAZero) {
    CoreFixture f;
    const Bytes bad{0x5F, 0x08, 0x00, 0x00, 0x00, 0x43};
    f.Feed(bad);
    f.Feed(bad);
    ASSERT_EQ(f.Rows(), 1);
    EXPECT_EQ(f.Cell(0, COLUMN_EXPLAN), std::wstring(L"Bad:_\x08\0\0\0C", 10));
}

TEST(FrameJudging, OverweightShortOrWhole) {
    for (const Bytes& burst : {Bytes{0x3F}, Bytes{0x3F, 1, 2, 3, 4, 5}}) {
        CoreFixture f;
        f.Feed(burst);
        ASSERT_EQ(f.Rows(), 1);
        EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"OVER");
        EXPECT_EQ(f.core.Table().Row(0).kind, RowKind::Overweight);
        EXPECT_EQ(f.hosts.commands, Bytes{CMD_ACK});
    }
}

TEST(FrameJudging, OverweightClearsPendingRepeat) {
    CoreFixture f;
    f.Feed({0x00});
    f.Feed({0x3F});
    f.Feed({0x00});
    EXPECT_EQ(f.Rows(), 1);
    EXPECT_EQ(f.hosts.commands, (Bytes{CMD_REPEAT, CMD_ACK, CMD_REPEAT}));
}

// One step of the byte stream: bytes as a read hands them over, then
// whether the line falls quiet after them.
struct Step {
    Bytes bytes;
    bool quiet = false;
};

struct StreamCase {
    const char* name;
    std::vector<Step> steps;
    Bytes commands;
    std::vector<std::wstring> data;  // Data cell of each row
};

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Part(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + from, b.begin() + to); }

TEST(FrameAssembly, FramesAreJudgedWholeWhereverTheReadsSplitThem) {
    const Bytes w = WeightFrame(0x02, 12345);  // 1234.5
    const Bytes v = WeightFrame(0x08, 1234);   // 1.234
    const Bytes noise{0x01, 0x02, 0x03};
    const std::vector<StreamCase> cases{
        {"split in two", {{Part(w, 0, 3)}, {Part(w, 3, 6)}}, {CMD_ACK}, {L"1234.5"}},
        {"byte by byte",
         {{Part(w, 0, 1)}, {Part(w, 1, 2)}, {Part(w, 2, 3)}, {Part(w, 3, 4)}, {Part(w, 4, 5)}, {Part(w, 5, 6)}},
         {CMD_ACK},
         {L"1234.5"}},
        {"two frames in one read", {{Join({w, v})}}, {CMD_ACK, CMD_ACK}, {L"1234.5", L"1.2340"}},
        {"a frame and a half, then the rest", {{Join({w, Part(v, 0, 2)})}, {Part(v, 2, 6)}},
         {CMD_ACK, CMD_ACK}, {L"1234.5", L"1.2340"}},
        // A short frame is damaged on its own; the next frame starts afresh.
        {"cut-off frame, then a good one", {{Part(w, 0, 2), true}, {v}}, {CMD_REPEAT, CMD_ACK}, {L"1.2340"}},
        {"noise, a pause, a frame", {{noise, true}, {w}}, {CMD_REPEAT, CMD_ACK}, {L"1234.5"}},
        {"noise twice is a repeat then an error row", {{noise, true}, {Part(noise, 0, 1)}, {Part(noise, 1, 3), true}},
         {CMD_REPEAT, CMD_ACK},
         {L"ERR"}},
        // Without a pause the frame belongs to the damaged bytes before it.
        {"noise running into a frame", {{Join({noise, w}), true}}, {CMD_REPEAT}, {}},
        {"overweight cut short by a pause", {{{0x3F, 0x00}, true}}, {CMD_ACK}, {L"OVER"}},
        {"overweight whole, then a frame", {{Join({Bytes{0x3F, 1, 2, 3, 4, 5}, w})}}, {CMD_ACK, CMD_ACK},
         {L"OVER", L"1234.5"}},
        {"a pause with nothing open", {{w, true}, {{}, true}}, {CMD_ACK}, {L"1234.5"}},
        {"a flood without a pause is judged in buffer-sized pieces", {{Bytes(5000, 0x41), true}},
         {CMD_REPEAT, CMD_ACK, CMD_REPEAT},
         {L"ERR"}},
    };
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.name);
        CoreFixture f;
        for (const Step& step : c.steps) {
            f.FeedPiece(step.bytes);
            if (step.quiet) f.Quiet();
        }
        EXPECT_EQ(f.hosts.commands, c.commands);
        ASSERT_EQ(f.Rows(), static_cast<int>(c.data.size()));
        for (size_t i = 0; i < c.data.size(); ++i) EXPECT_EQ(f.Cell(static_cast<int>(i), COLUMN_DATA), c.data[i]);
        EXPECT_FALSE(f.hosts.quietWatched) << "bytes left open";
    }
}

TEST(FrameAssembly, ErrorRowRemarkHoldsTheDamagedBytesOnly) {
    CoreFixture f;
    f.Feed(WeightFrame(0x02, 12345));
    f.Feed({0x41, 0x42});
    f.Feed({0x43});
    ASSERT_EQ(f.Rows(), 2);
    EXPECT_EQ(f.Cell(1, COLUMN_EXPLAN), L"Bad:C");
}

TEST(FrameAssembly, AnOpenFrameIsDroppedWhenTheLinkEnds) {
    CoreFixture f;
    const Bytes w = WeightFrame(0x02, 12345);
    f.FeedPiece(Part(w, 0, 4));
    f.link.SetConnected(false);
    f.link.SetConnected(true);
    f.FeedPiece(w);
    EXPECT_EQ(f.hosts.commands, Bytes{CMD_ACK});
    ASSERT_EQ(f.Rows(), 1);
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"1234.5");
}

TEST(FrameJudging, InvalidDecimalCodeIsErrorRowWithAcknowledge) {
    CoreFixture f;
    f.Feed(WeightFrame(0x03, 12345));
    ASSERT_EQ(f.Rows(), 1);
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"ERR");
    EXPECT_EQ(f.core.Table().Row(0).kind, RowKind::Error);
    EXPECT_EQ(f.hosts.commands, Bytes{CMD_ACK});
}

TEST(FrameJudging, BeforeTheLinkIsOpenABurstOnlyOffersItsFirstByteAsTheAnswer) {
    CoreFixture f;
    f.link.SetConnected(false);
    f.Feed({0xA5});
    f.Feed({0x5F, 0x02, 0x00, 0x30, 0x39, 0x54});
    EXPECT_EQ(f.Rows(), 0);
    EXPECT_TRUE(f.hosts.commands.empty());
}

TEST(TableCells, UnitCopiesTheRowAbove) {
    CoreFixture f;
    f.core.SwitchUnit(UNIT_LB);
    f.Feed(WeightFrame(0x08, 1234));
    f.Feed(WeightFrame(0x08, 1234));
    EXPECT_EQ(f.Cell(0, COLUMN_UNIT), L"LB");
    EXPECT_EQ(f.Cell(1, COLUMN_UNIT), L"LB");
    EXPECT_EQ(f.Cell(1, COLUMN_DATA), L"2.7197");
    EXPECT_EQ(f.Cell(1, COLUMN_NUMBER), L"       2");
}

TEST(TableCells, NegativeDurationWhenTheClockGoesBack) {
    CoreFixture f;
    f.now = f.core.StartTime() - 3725;
    f.Feed(WeightFrame(0x08, 1));
    EXPECT_EQ(f.Cell(0, COLUMN_DURATION), L"-1:-2:-5");
}

TEST(UnitSwitch, RewritesDataAndUnitFromStoredKilograms) {
    CoreFixture f;
    f.Feed(WeightFrame(0x08, 1234));     // 1.234 kg
    f.Feed({0x3F});                      // overweight
    f.Feed({0x01});
    f.Feed({0x01});                      // error row
    f.Feed(WeightFrame(0x02, 0));        // a real 0.0 kg
    f.Feed(WeightFrame(0x02, 5555));     // a real 555.5 kg
    ASSERT_EQ(f.Rows(), 5);
    const std::vector<std::wstring> firstKg{L"1.2340", L"OVER", L"ERR", L"0.0000", L"555.50"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(f.Cell(i, COLUMN_DATA), firstKg[i]) << i;
    const std::wstring explan = f.Cell(2, COLUMN_EXPLAN);

    f.core.SwitchUnit(UNIT_LBOZ);
    const std::vector<std::wstring> lboz{L"  2:11.5", L"OVER", L"ERR", L"  0:0.00", L"1224:8.48"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(f.Cell(i, COLUMN_DATA), lboz[i]) << i;
        EXPECT_EQ(f.Cell(i, COLUMN_UNIT), L"LB:OZ") << i;
    }
    EXPECT_EQ(f.Cell(2, COLUMN_EXPLAN), explan);

    f.core.SwitchUnit(UNIT_KG);
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"1.2340");
    EXPECT_EQ(f.Cell(0, COLUMN_UNIT), L"KG");
    // Readings of exactly the marks' values stay readings.
    EXPECT_EQ(f.Cell(3, COLUMN_DATA), L"0.0000");
    EXPECT_EQ(f.Cell(4, COLUMN_DATA), L"555.50");
}

TEST(TableCells, TheSumIsShownInFullWithTheFewestDecimalsACellShows) {
    CoreFixture f;
    EXPECT_EQ(f.core.WeightSumText(), L"0.0000");
    for (int i = 0; i < 120; ++i) f.Feed(WeightFrame(0x02, 99999));  // 9999.9 kg
    f.Feed({0x3F});
    EXPECT_EQ(f.core.WeightSumText(), L"1199988.0");
    f.Feed(WeightFrame(0x08, 1234));  // 1.2340: a finer cell adds no digits the others lack
    EXPECT_EQ(f.core.WeightSumText(), L"1199989.2");
    f.core.SwitchUnit(UNIT_LB);
    EXPECT_EQ(f.core.WeightSumText(), FormatWeightSum(1199989.234, UNIT_LB, 0));
}

TEST(UnitSwitch, SameUnitChangesNothing) {
    CoreFixture f;
    f.Feed(WeightFrame(0x02, 0));
    EXPECT_FALSE(f.core.SwitchUnit(UNIT_KG));
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"0.0000");
}

TEST(UnitSwitch, ReadsMarkTextsFromTheLanguageInUse) {
    CoreFixture f;
    f.Feed({0x01});
    f.Feed({0x01});
    const auto other = f.dir.Write("Other.ini", "[ListCtrl_Header]\nError_EX=Fehler\n");
    f.texts.SetLanguageFile(other.wstring());
    f.core.SwitchUnit(UNIT_LB);
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"Fehler");
}

TEST(LanguageChange, MarksAndTheWordsBeforeDamagedBytesFollowTheLanguage) {
    CoreFixture f;
    f.Feed(WeightFrame(0x02, 5555));  // a real 555.5 kg
    f.Feed({0x3F});                   // overweight
    f.Feed({0x01, 0x9F});
    f.Feed({0x01, 0x9F});             // error row
    ASSERT_EQ(f.Rows(), 3);
    ASSERT_EQ(f.Cell(2, COLUMN_EXPLAN), L"Bad:\x01\x9F");
    const RowRecord overweight = f.core.RecordOf(1), damaged = f.core.RecordOf(2);
    const auto other = f.dir.Write("Other.ini", "[ListCtrl_Header]\nOverweight=Zu schwer\nError_EX=Fehler\n"
                                                "[Message]\nCMD_ERROR=Kaputt:\n");
    f.texts.SetLanguageFile(other.wstring());
    f.core.LanguageChanged();
    const std::vector<std::wstring> data{L"555.50", L"Zu schwer", L"Fehler"};
    const std::vector<std::wstring> remarks{L"", L"", L"Kaputt:\x01\x9F"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.Cell(i, COLUMN_DATA), data[static_cast<size_t>(i)]) << i;
        EXPECT_EQ(f.Cell(i, COLUMN_EXPLAN), remarks[static_cast<size_t>(i)]) << i;
    }
    // A row brought back from the journal speaks the language in use too.
    f.core.RestoreRows({overweight});
    EXPECT_EQ(f.Cell(3, COLUMN_DATA), L"Zu schwer");
    // A remark restored in words this language does not use stays as written.
    RowRecord foreign = damaged;
    foreign.cells[COLUMN_EXPLAN] = L"Nicht:\x01";
    f.core.RestoreRows({foreign});
    f.core.LanguageChanged();
    EXPECT_EQ(f.Cell(4, COLUMN_EXPLAN), L"Nicht:\x01");
    EXPECT_EQ(f.Cell(4, COLUMN_DATA), L"Fehler");
}

TEST(UnitSwitch, EmptyTableOnlyChangesTheUnit) {
    CoreFixture f;
    f.core.SwitchUnit(UNIT_LBOZ);
    EXPECT_EQ(f.core.Unit(), UNIT_LBOZ);
    f.Feed(WeightFrame(0x08, 1234));
    EXPECT_EQ(f.Cell(0, COLUMN_UNIT), L"LB:OZ");
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"  2:11.5");
}

class RowLimitsTest : public ::testing::Test {
protected:
    // Fills rows quickly without going through the frame path for each.
    static void FillTo(CoreFixture& f, int rows) {
        const Bytes frame = WeightFrame(0x08, 1234);
        while (f.Rows() < rows) f.Feed(frame);
    }
};

TEST_F(RowLimitsTest, NoticeAtRow60000AndReadingsGoOn) {
    CoreFixture f;
    FillTo(f, 60000);
    EXPECT_EQ(f.hosts.nearlyFull, 0);
    f.Feed(WeightFrame(0x08, 1234));  // row number 60000
    EXPECT_EQ(f.hosts.nearlyFull, 1);
    f.Feed(WeightFrame(0x08, 1234));
    EXPECT_EQ(f.Rows(), 60002);
    EXPECT_EQ(f.hosts.nearlyFull, 1);
    EXPECT_EQ(f.hosts.tableFull, 0);
}

TEST_F(RowLimitsTest, TheRowThatFillsTheTableIsAcknowledgedAndSaysSo) {
    CoreFixture f;
    FillTo(f, 65000);
    EXPECT_EQ(f.hosts.tableFull, 0);
    f.hosts.commands.clear();
    f.Feed(WeightFrame(0x08, 1234));  // row number 65000
    EXPECT_EQ(f.hosts.commands, Bytes{CMD_ACK});
    EXPECT_EQ(f.hosts.tableFull, 1);
    EXPECT_TRUE(f.core.IsTableFull());
    f.core.EmptyTable();
    EXPECT_EQ(f.Rows(), 0);
    EXPECT_FALSE(f.core.IsTableFull());
}

TEST(Seq, RisesByOnePerReadingAcrossClearsAndEmptiesAndRestoredRowsKeepTheirs) {
    CoreFixture f;
    f.core.SetDesk("PACK-3", 41);
    f.Feed(WeightFrame(0x08, 1000));
    f.Feed({0x01});  // asked again: no reading, no seq
    f.Feed({0x3F});
    EXPECT_EQ(f.core.ClearFirstRows(1), 1);
    f.Feed(WeightFrame(0x08, 1000));
    f.core.EmptyTable();
    f.Feed(WeightFrame(0x08, 1000));
    EXPECT_EQ(f.core.RecordOf(0).seq, 45u);
    EXPECT_EQ(f.core.RecordOf(0).desk, "PACK-3");
    // Rows shown again keep their desk and seq; an older journal's get the next ones.
    RowRecord older = f.core.RecordOf(0), handedOver = older, unnumbered = older;
    older.seq = 40;
    handedOver.desk = "PACK-3-2";
    handedOver.seq = 7;
    unnumbered.seq = 0;
    unnumbered.desk.clear();
    f.core.RestoreRows({older, handedOver, unnumbered});
    EXPECT_EQ(f.core.RecordOf(1).seq, 40u);
    EXPECT_EQ(f.core.RecordOf(2).desk, "PACK-3-2");
    EXPECT_EQ(f.core.RecordOf(2).seq, 7u);
    EXPECT_EQ(f.core.RecordOf(3).desk, "PACK-3");
    EXPECT_EQ(f.core.RecordOf(3).seq, 46u);
    f.Feed(WeightFrame(0x08, 1000));
    EXPECT_EQ(f.core.LastSeq(), 47u);
}

TEST_F(RowLimitsTest, EveryRowFollowsAUnitSwitchHoweverLongTheTable) {
    // Limits raised far above the full table, as ~35000 reopenings
    // without clearing would.
    constexpr int rows = 100001;
    CoreFixture f({-1, rows + 10});
    FillTo(f, rows);
    f.core.SwitchUnit(UNIT_LB);
    for (int row : {0, rows - 1}) {
        EXPECT_EQ(f.Cell(row, COLUMN_DATA), L"2.7197") << row;
        EXPECT_EQ(f.Cell(row, COLUMN_UNIT), L"LB") << row;
    }
    f.Feed(WeightFrame(0x08, 1234));
    EXPECT_EQ(f.Cell(rows, COLUMN_DATA), L"2.7197");
    EXPECT_EQ(f.Cell(rows, COLUMN_NUMBER), L"  100002");
}

}  // namespace
}  // namespace tarvex
