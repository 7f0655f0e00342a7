#include <gtest/gtest.h>

#include "RecordingHosts.h"
#include "WeightText.h"

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
    double kg = 0;
    ASSERT_TRUE(f.core.Weight(0, kg));
    EXPECT_DOUBLE_EQ(kg, 1234.5);
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
    double kg = -1;
    ASSERT_TRUE(f.core.Weight(0, kg));
    EXPECT_EQ(kg, WEIGHT_ERROR);
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

TEST(FrameJudging, ErrorRowRemarkEndsAtZeroByte) {
    CoreFixture f;
    const Bytes bad{0x41, 0x42, 0x00, 0x43};
    f.Feed(bad);
    f.Feed(bad);
    ASSERT_EQ(f.Rows(), 1);
    EXPECT_EQ(f.Cell(0, COLUMN_EXPLAN), L"Bad:AB");
}

TEST(FrameJudging, OverweightAnyLength) {
    for (const Bytes& burst : {Bytes{0x3F}, Bytes{0x3F, 1, 2, 3, 4, 5, 6, 7, 8, 9}}) {
        CoreFixture f;
        f.Feed(burst);
        ASSERT_EQ(f.Rows(), 1);
        EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"OVER");
        double kg = 0;
        ASSERT_TRUE(f.core.Weight(0, kg));
        EXPECT_EQ(kg, WEIGHT_OVERWEIGHT);
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

TEST(FrameJudging, ShortBurstIsJudgedWithStaleBytesBehindIt) {
    CoreFixture f;
    f.Feed({0x5F, 0x02, 0x00, 0x30, 0x39, 0x54});
    // Two bytes overwrite the head; bytes 2..5 stay from the last frame.
    f.Feed({0x5F, 0x02});
    ASSERT_EQ(f.Rows(), 2);
    EXPECT_EQ(f.Cell(1, COLUMN_DATA), L"1234.5");
    // Three bytes that break the check with the stale tail.
    f.Feed({0x5F, 0x08, 0x01});
    EXPECT_EQ(f.Rows(), 2);
    EXPECT_EQ(f.hosts.commands.back(), CMD_REPEAT);
}

TEST(FrameJudging, SplitFrameIsRepeatThenErrorRow) {
    CoreFixture f;
    const Bytes frame = WeightFrame(0x02, 12345);
    f.Feed(Bytes(frame.begin(), frame.begin() + 3));
    f.Feed(Bytes(frame.begin() + 3, frame.end()));
    ASSERT_EQ(f.Rows(), 1);
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"ERR");
    EXPECT_EQ(f.hosts.commands, (Bytes{CMD_REPEAT, CMD_ACK}));
}

TEST(FrameJudging, InvalidDecimalCodeIsErrorRowWithAcknowledge) {
    CoreFixture f;
    f.Feed(WeightFrame(0x03, 12345));
    ASSERT_EQ(f.Rows(), 1);
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"ERR");
    double kg = -1;
    ASSERT_TRUE(f.core.Weight(0, kg));
    EXPECT_EQ(kg, WEIGHT_ERROR);
    EXPECT_EQ(f.hosts.commands, Bytes{CMD_ACK});
}

TEST(FrameJudging, NotConnectedOnlySignalsTheReply) {
    CoreFixture f;
    f.core.SetConnected(false);
    f.Feed({0xA5});
    f.Feed({0x5F, 0x02, 0x00, 0x30, 0x39, 0x54});
    EXPECT_EQ(f.Rows(), 0);
    EXPECT_TRUE(f.hosts.commands.empty());
    EXPECT_EQ(f.hosts.replySignals, 2);
    EXPECT_EQ(f.core.FirstReceivedByte(), 0x5F);
}

TEST(FrameJudging, BurstLongerThanTheBufferIsCutToIt) {
    CoreFixture f;
    Bytes flood(5000, 0x41);
    f.Feed(flood);
    f.Feed(flood);
    ASSERT_EQ(f.Rows(), 1);
    EXPECT_EQ(f.Cell(0, COLUMN_EXPLAN).size(), 4u + RX_BUFFER_SIZE);
    f.Feed({});  // an empty burst is judged on what the buffer holds
    EXPECT_EQ(f.hosts.commands.back(), CMD_REPEAT);
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
    const std::vector<std::wstring> lboz{L"  2:11.5", L"OVER", L"ERR", L"ERR", L"OVER"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(f.Cell(i, COLUMN_DATA), lboz[i]) << i;
        EXPECT_EQ(f.Cell(i, COLUMN_UNIT), L"LB:OZ") << i;
    }
    EXPECT_EQ(f.Cell(2, COLUMN_EXPLAN), explan);

    f.core.SwitchUnit(UNIT_KG);
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"1.2340");
    EXPECT_EQ(f.Cell(0, COLUMN_UNIT), L"KG");
    // The marks are taken for what they mark once the table is rewritten.
    EXPECT_EQ(f.Cell(3, COLUMN_DATA), L"ERR");
    EXPECT_EQ(f.Cell(4, COLUMN_DATA), L"OVER");
}

TEST(UnitSwitch, SameUnitChangesNothing) {
    CoreFixture f;
    f.Feed(WeightFrame(0x02, 0));
    const int changes = f.hosts.rowsChanged;
    f.core.SwitchUnit(UNIT_KG);
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"0.0000");
    EXPECT_EQ(f.hosts.rowsChanged, changes);
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

TEST(UnitSwitch, EmptyTableOnlyChangesTheUnit) {
    CoreFixture f;
    f.core.SwitchUnit(UNIT_LBOZ);
    EXPECT_EQ(f.core.Unit(), UNIT_LBOZ);
    f.Feed(WeightFrame(0x08, 1234));
    EXPECT_EQ(f.Cell(0, COLUMN_UNIT), L"LB:OZ");
    EXPECT_EQ(f.Cell(0, COLUMN_DATA), L"  2:11.5");
}

TEST(ClearData, AsksAndClearsOnlyOnYes) {
    for (int answer : {ANSWER_NO, ANSWER_CANCEL, -1, ANSWER_YES}) {
        CoreFixture f;
        f.Feed(WeightFrame(0x08, 1));
        f.hosts.answers.push_back(answer);
        f.now += 50;
        f.core.OnClearData();
        EXPECT_EQ(f.hosts.questions, std::vector<std::wstring>{L"Clear?"});
        EXPECT_EQ(f.Rows(), answer == ANSWER_YES ? 0 : 1) << answer;
        EXPECT_EQ(f.core.StartTime() == f.now, answer == ANSWER_YES);
        EXPECT_EQ(f.hosts.restarts, 0);
    }
}

TEST(ClearData, EmptyTableAsksNothing) {
    CoreFixture f;
    f.core.OnClearData();
    EXPECT_TRUE(f.hosts.questions.empty());
    EXPECT_EQ(f.hosts.restarts, 0);
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
    EXPECT_TRUE(f.hosts.notices.empty());
    f.Feed(WeightFrame(0x08, 1234));  // row number 60000
    EXPECT_EQ(f.hosts.notices, std::vector<std::wstring>{L"Nearly full"});
    f.Feed(WeightFrame(0x08, 1234));
    EXPECT_EQ(f.Rows(), 60002);
    EXPECT_EQ(f.hosts.notices.size(), 1u);
    EXPECT_TRUE(f.core.IsConnected());
    EXPECT_TRUE(f.hosts.saves.empty());
}

TEST_F(RowLimitsTest, FullTableStopsSavesClearsAndRestarts) {
    CoreFixture f;
    FillTo(f, 65000);
    EXPECT_TRUE(f.hosts.saves.empty());
    f.hosts.commands.clear();
    f.hosts.answers.push_back(ANSWER_NO);  // the table is emptied all the same
    f.Feed(WeightFrame(0x08, 1234));       // row number 65000
    EXPECT_EQ(f.hosts.notices.back(), L"Full");
    EXPECT_EQ(f.hosts.commands, (Bytes{CMD_ACK, CMD_STOP}));
    EXPECT_EQ(f.hosts.stops, 1);
    EXPECT_FALSE(f.core.IsConnected());
    EXPECT_EQ(f.hosts.saves, std::vector<bool>{true});
    EXPECT_EQ(f.hosts.savedRowCounts, std::vector<int>{65001});
    EXPECT_EQ(f.hosts.questions, std::vector<std::wstring>{L"Clear?"});
    EXPECT_EQ(f.Rows(), 0);
    EXPECT_EQ(f.hosts.restarts, 1);
    EXPECT_FALSE(f.core.IsTableFull());
}

TEST_F(RowLimitsTest, FailedAutomaticSaveKeepsTableUntilNextClear) {
    CoreFixture f({10, 20});
    FillTo(f, 20);
    f.hosts.saveSucceeds = false;
    f.Feed(WeightFrame(0x08, 1234));
    EXPECT_EQ(f.Rows(), 21);
    EXPECT_TRUE(f.core.IsTableFull());
    EXPECT_TRUE(f.hosts.questions.empty());
    EXPECT_EQ(f.hosts.restarts, 0);

    f.hosts.answers.push_back(ANSWER_NO);
    f.core.OnClearData();
    EXPECT_EQ(f.Rows(), 0);
    EXPECT_EQ(f.hosts.restarts, 1);
    EXPECT_FALSE(f.core.IsTableFull());
}

TEST_F(RowLimitsTest, ReopenedWithoutClearingEveryRowRunsTheFullProcedure) {
    CoreFixture f({10, 20});
    FillTo(f, 20);
    f.hosts.saveSucceeds = false;
    for (int i = 0; i < 3; ++i) {
        f.core.SetConnected(true);
        f.Feed(WeightFrame(0x08, 1234));
    }
    EXPECT_EQ(f.Rows(), 23);
    EXPECT_EQ(f.hosts.saves.size(), 3u);
    EXPECT_EQ(f.hosts.stops, 3);
}

TEST_F(RowLimitsTest, RowsPastTheLastWeightEntryStayConsistent) {
    // Limits above the array let the table grow past it, as ~35000
    // reopenings without clearing would.
    CoreFixture f({-1, WEIGHT_ENTRIES + 10});
    FillTo(f, WEIGHT_ENTRIES + 1);
    double kg = 0;
    EXPECT_TRUE(f.core.Weight(WEIGHT_ENTRIES - 1, kg));
    EXPECT_FALSE(f.core.Weight(WEIGHT_ENTRIES, kg));
    f.core.SwitchUnit(UNIT_LB);
    // Rows with an entry follow the switch; the one past it keeps its reading
    // in the unit it was taken in, so value and unit still agree.
    EXPECT_EQ(f.Cell(WEIGHT_ENTRIES - 1, COLUMN_DATA), L"2.7197");
    EXPECT_EQ(f.Cell(WEIGHT_ENTRIES - 1, COLUMN_UNIT), L"LB");
    EXPECT_EQ(f.Cell(WEIGHT_ENTRIES, COLUMN_DATA), L"1.2340");
    EXPECT_EQ(f.Cell(WEIGHT_ENTRIES, COLUMN_UNIT), L"KG");
    f.Feed(WeightFrame(0x08, 1234));
    EXPECT_EQ(f.Cell(WEIGHT_ENTRIES + 1, COLUMN_DATA), L"2.7197");
    EXPECT_EQ(f.Cell(WEIGHT_ENTRIES + 1, COLUMN_UNIT), L"LB");
}

}  // namespace
}  // namespace tarvex
