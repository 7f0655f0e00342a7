// The journal offer at start-up without a display: a recording stands in for
// the window.

#include <gtest/gtest.h>

#include "journal/JournalFormat.h"
#include "session/JournalOffer.h"
#include "tests/support/RecordingHosts.h"
#include "tests/support/RecordingSessionUi.h"
#include "text/TextCodec.h"

namespace tarvex::test {
namespace {

using OfferUi = RecordingSessionUi;

// A run that ended without closing, leaving three rows in the folder's journal.
void EarlierRun(const std::filesystem::path& folder) {
    CoreFixture run;
    CJournal journal;
    std::wstring reason;
    ASSERT_TRUE(journal.Open(folder, reason)) << reason;
    journal.SetFoundAside();
    run.journal = &journal;
    run.Feed(WeightFrame(0x08, 1234));
    run.Feed({0x3F});
    run.Feed(WeightFrame(0x08, 2000));
}

TEST(JournalOffer, RowsOfAnEarlierRunAreShownAgainOrKeptAside) {
    for (int answer : {ANSWER_YES, ANSWER_NO}) {
        CoreFixture f;
        const auto folder = f.dir.Path() / "data";
        EarlierRun(folder);
        CJournal journal;
        OfferUi ui;
        ui.answers = {answer};
        CJournalOutput output(journal, f.core);
        OfferJournalRows({journal, output, f.core, f.texts, ui, folder, ""});
        f.journal = &journal;
        ASSERT_EQ(ui.questions.size(), 1u);
        EXPECT_NE(ui.questions[0].find(L"3 readings"), std::wstring::npos) << ui.questions[0];
        EXPECT_TRUE(ui.told.empty());
        if (answer == ANSWER_YES) {
            ASSERT_EQ(f.Rows(), 3);
            EXPECT_EQ(f.Cell(1, COLUMN_DATA), L"OVER");
            EXPECT_EQ(f.Cell(2, COLUMN_NUMBER), L"       3");
        } else {
            EXPECT_EQ(f.Rows(), 0);
            EXPECT_TRUE(std::filesystem::exists(journal.LastSetAside()));
        }
        // This run's journal goes on with the next reading.
        f.Feed(WeightFrame(0x08, 1));
        const JournalContents kept = ReadJournal(f.dir.Read(journal.Path()));
        EXPECT_EQ(kept.rows.size(), answer == ANSWER_YES ? 4u : 1u);
    }
}

TEST(JournalOffer, WithoutAJournalTheUserIsToldWhereAndWhyAndTheTableWorks) {
    CoreFixture f;
    const auto taken = f.dir.Write("taken", "x");  // a file where the folder should be
    CJournal journal;
    OfferUi ui;
    CJournalOutput output(journal, f.core);
    OfferJournalRows({journal, output, f.core, f.texts, ui, taken / "data", ""});
    ASSERT_EQ(ui.told.size(), 1u);
    EXPECT_NE(ui.told[0].find(WideFromPath(taken / "data")), std::wstring::npos) << ui.told[0];
    EXPECT_TRUE(ui.questions.empty());
    f.Feed(WeightFrame(0x08, 1234));
    EXPECT_EQ(f.Rows(), 1);
}

TEST(JournalOffer, AnotherCopysJournalGoesAsideWholeWhenItKeepsRowsBehindAMark) {
    CoreFixture f;
    const auto folder = f.dir.Path() / "data";
    RowRecord row;
    row.time = 1796565787;
    row.cells = {L"       1", L"1.2340", L"KG", L"00:00:07", L"14:03:07 12/06/2026", L""};
    const std::string kept = JournalHeader() + FormatJournalLine(0, row) + FormatKeptLine(1);
    f.dir.Write("data/journal.2.txt", kept + FormatJournalLine(0, row));
    CJournal journal;
    OfferUi ui;
    ui.answers = {ANSWER_YES};
    CJournalOutput output(journal, f.core);
    OfferJournalRows({journal, output, f.core, f.texts, ui, folder, ""});
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(f.Rows(), 1);
    EXPECT_EQ(ReadJournal(f.dir.Read(folder / "journal.2.txt")).state, JournalState::Empty);
    bool copied = false;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        copied = copied || f.dir.Read(entry.path()).rfind(kept, 0) == 0;
    EXPECT_TRUE(copied) << "the rows it kept are gone";
}

#ifndef _WIN32
TEST(JournalOffer, AJournalNameTakenByADeviceIsToldAndTheNextOneKeepsTheReadings) {
    CoreFixture f;
    const auto folder = f.dir.Path() / "data";
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink("/dev/zero", folder / "journal.txt");
    CJournal journal;
    OfferUi ui;
    CJournalOutput output(journal, f.core);
    OfferJournalRows({journal, output, f.core, f.texts, ui, folder, ""});
    f.journal = &journal;
    ASSERT_EQ(ui.told.size(), 1u);
    EXPECT_NE(ui.told[0].find(WideFromPath(folder / "journal.txt") + L" is not an ordinary file"), std::wstring::npos)
        << ui.told[0];
    EXPECT_TRUE(ui.questions.empty());
    f.Feed(WeightFrame(0x08, 1234));
    EXPECT_EQ(ReadJournal(f.dir.Read(folder / "journal.2.txt")).rows.size(), 1u);
}
#endif

}  // namespace
}  // namespace tarvex::test
