#include <gtest/gtest.h>

#include "tests/RecordingHosts.h"
#include "tests/RecordingJournal.h"
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
    EXPECT_EQ(f.hosts.answersArrived, (Bytes{0xA5, 0x5F}));
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

TEST(LanguageChange, MarksAndTheWordsBeforeDamagedBytesFollowTheLanguage) {
    CoreFixture f;
    test::RecordingJournal journal;
    f.core.SetJournal(&journal);
    f.Feed(WeightFrame(0x02, 5555));  // a real 555.5 kg
    f.Feed({0x3F});                   // overweight
    f.Feed({0x01, 0x9F});
    f.Feed({0x01, 0x9F});             // error row
    ASSERT_EQ(f.Rows(), 3);
    ASSERT_EQ(f.Cell(2, COLUMN_EXPLAN), L"Bad:\x01\x9F");
    const JournalRow overweight = journal.rows.at(1);
    const auto other = f.dir.Write("Other.ini", "[ListCtrl_Header]\nOverweight=Zu schwer\nError_EX=Fehler\n"
                                                "[Message]\nCMD_ERROR=Kaputt:\n");
    f.texts.SetLanguageFile(other.wstring());
    const int changes = f.hosts.rowsChanged;
    f.core.LanguageChanged();
    EXPECT_GT(f.hosts.rowsChanged, changes);
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
    JournalRow foreign = journal.rows.at(2);
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

TEST(ClearData, ReadingsThatArriveBehindTheQuestionOrTheSaveStay) {
    struct Case {
        const char* name;
        bool save;
        int duringSave, duringQuestion;
    };
    for (const Case& c : {Case{"clear button", false, 0, 2}, Case{"save, then yes", true, 1, 2}}) {
        SCOPED_TRACE(c.name);
        CoreFixture f;
        test::RecordingJournal journal;
        f.core.SetJournal(&journal);
        for (uint32_t i = 1; i <= 3; ++i) f.Feed(WeightFrame(0x08, i * 1000));  // 1, 2 and 3 kg
        f.hosts.framesDuringSave.assign(static_cast<size_t>(c.duringSave), WeightFrame(0x08, 7000));
        f.hosts.framesDuringQuestion.assign(static_cast<size_t>(c.duringQuestion), WeightFrame(0x08, 9000));
        f.hosts.answers.push_back(ANSWER_YES);
        if (c.save)
            f.core.SaveTable(false);
        else
            f.core.OnClearData();
        const int stayed = c.duringQuestion;  // rows saved with the table go with it
        ASSERT_EQ(f.Rows(), stayed);
        EXPECT_EQ(journal.cleared, std::vector<int>{3 + c.duringSave});
        for (int r = 0; r < stayed; ++r) {
            EXPECT_EQ(f.Cell(r, COLUMN_NUMBER), FormatRowNumber(3 + c.duringSave + r));
            EXPECT_EQ(f.Cell(r, COLUMN_DATA), L"9.0000");
        }
        EXPECT_DOUBLE_EQ(f.core.WeightSum(), 9.0 * stayed);
        f.Feed({0x3F});
        EXPECT_EQ(f.Cell(stayed, COLUMN_NUMBER), FormatRowNumber(3 + c.duringSave + stayed));
        f.core.SwitchUnit(UNIT_LB);  // values and kinds moved with their rows
        EXPECT_EQ(f.Cell(0, COLUMN_DATA), FormatWeightText(9.0, UNIT_LB));
        EXPECT_EQ(f.Cell(stayed, COLUMN_DATA), L"OVER");
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
    EXPECT_TRUE(f.link.IsConnected());
    EXPECT_TRUE(f.hosts.saves.empty());
}

TEST_F(RowLimitsTest, FullTableStopsSavesClearsAndRestarts) {
    CoreFixture f;
    FillTo(f, 65000);
    EXPECT_TRUE(f.hosts.saves.empty());
    f.hosts.commands.clear();
    f.Feed(WeightFrame(0x08, 1234));  // row number 65000
    EXPECT_EQ(f.hosts.notices.back(), L"Full");
    EXPECT_EQ(f.hosts.commands, (Bytes{CMD_ACK, CMD_STOP}));
    EXPECT_EQ(f.hosts.stops, 1);
    EXPECT_FALSE(f.link.IsConnected());
    EXPECT_EQ(f.hosts.saves, std::vector<bool>{true});
    EXPECT_EQ(f.hosts.savedRowCounts, std::vector<int>{65001});
    EXPECT_TRUE(f.hosts.questions.empty());  // every row is saved: nothing to ask
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
    EXPECT_EQ(f.hosts.noticesHidden, 1);  // "the table is full" goes with its rows
    EXPECT_EQ(f.hosts.restarts, 1);
    EXPECT_FALSE(f.core.IsTableFull());
}

TEST_F(RowLimitsTest, ReopenedWithoutClearingEveryRowRunsTheFullProcedure) {
    CoreFixture f({10, 20});
    FillTo(f, 20);
    f.hosts.saveSucceeds = false;
    for (int i = 0; i < 3; ++i) {
        f.link.SetConnected(true);
        f.Feed(WeightFrame(0x08, 1234));
    }
    EXPECT_EQ(f.Rows(), 23);
    EXPECT_EQ(f.hosts.saves.size(), 3u);
    EXPECT_EQ(f.hosts.stops, 3);
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
