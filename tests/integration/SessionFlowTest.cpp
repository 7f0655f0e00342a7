// What follows a reading, decided by the session alone: the clear question,
// the journal, the desk's seq through clears, full tables, restarts and a
// second copy, and an output too slow to keep up.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "journal/JournalFormat.h"
#include "weighing/CellTexts.h"
#include "outputs/QueuedOutput.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/integration/RunningScale.h"
#include "tests/integration/SessionFixture.h"

namespace tarvex::test {
namespace {

const std::wstring kClearQuestion = L"Clear the readings shown from the table?";

class SessionFlowTest : public SessionTest {
protected:
    std::filesystem::path JournalPath() const { return dir.Path() / "user-data" / "journal.txt"; }
    // Every reading of the desk the journal still holds, by seq.
    std::vector<uint64_t> Seqs() const {
        std::vector<uint64_t> seqs;
        for (const RowRecord& r : session->ReadingsFrom(1, 1000000)) seqs.push_back(r.seq);
        return seqs;
    }
    static std::vector<uint64_t> OneTo(uint64_t last) {
        std::vector<uint64_t> all(last);
        for (uint64_t i = 0; i < last; ++i) all[i] = i + 1;
        return all;
    }
};

TEST_F(SessionFlowTest, TheClearQuestionClearsOnlyOnYes) {
    for (int answer : {ANSWER_NO, ANSWER_CANCEL, -1, ANSWER_YES}) {
        Start(CPortMap::Empty());
        AddRows(1);
        ui.questions.clear();
        ui.answers = {answer};
        session->OnClearData();
        EXPECT_EQ(ui.questions, std::vector<std::wstring>{kClearQuestion});
        EXPECT_EQ(Rows(), answer == ANSWER_YES ? 0 : 1) << answer;
        EXPECT_FALSE(Attempting());  // no link is started again
        session.reset();
        std::filesystem::remove_all(dir.Path() / "user-data");
    }
}

TEST_F(SessionFlowTest, AnEmptyTableAsksNothing) {
    Start(CPortMap::Empty());
    session->OnClearData();
    EXPECT_TRUE(ui.questions.empty());
}

TEST_F(SessionFlowTest, ReadingsThatArriveBehindTheQuestionOrTheSaveStay) {
    struct Case {
        const char* name;
        bool save;
        int duringSave, duringQuestion;
    };
    for (const Case& c : {Case{"clear button", false, 0, 2}, Case{"save, then yes", true, 1, 2}}) {
        SCOPED_TRACE(c.name);
        Start(CPortMap::Empty());
        AddRows(3);
        ui.onSaveDialog = [&] { AddRows(c.duringSave); };
        ui.onQuestion = [&](const std::wstring&) { AddRows(c.duringQuestion); };
        ui.answers = {ANSWER_YES};
        ui.savePaths = {SaveChoice(WideFromPath(dir.Path() / (std::string(c.name) + ".xls")))};
        if (c.save)
            session->OnSaveTable();
        else
            session->OnClearData();
        ui.onQuestion = nullptr;
        const int stayed = c.duringQuestion;  // rows saved with the table go with it
        ASSERT_EQ(Rows(), stayed);
        EXPECT_EQ(session->Core().Table().Cell(0, COLUMN_NUMBER), FormatRowNumber(3 + c.duringSave));
        // The journal holds what the table holds, and every reading by seq.
        EXPECT_EQ(ReadJournal(dir.Read(JournalPath())).rows.size(), static_cast<size_t>(stayed));
        EXPECT_EQ(Seqs(), OneTo(static_cast<uint64_t>(3 + c.duringSave + stayed)));
        session.reset();
        std::filesystem::remove_all(dir.Path() / "user-data");
    }
}

TEST_F(SessionFlowTest, SeqNeverRepeatsAcrossClearsFullTablesRestartsAndRestores) {
    Start(CPortMap::Empty(), RowLimits{100, 3});
    const std::string desk = session->Desk();
    EXPECT_FALSE(desk.empty());
    AddRows(2);
    ui.answers = {ANSWER_YES};
    session->OnClearData();
    AddRows(5);  // the fourth row fills the table: saved, emptied, the rest waits
    EXPECT_EQ(Rows(), 0);
    EXPECT_FALSE(session->Core().IsTableFull());
    AddRows(2);
    EXPECT_EQ(Seqs(), OneTo(8));
    // A restart shows the two rows again, with their seqs; the count goes on.
    session.reset();
    ui.answers = {ANSWER_YES};
    Start(CPortMap::Empty(), RowLimits{100, 3});
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(session->Core().RecordOf(1).seq, 8u);
    EXPECT_EQ(session->Desk(), desk);
    AddRows(1);
    EXPECT_EQ(session->Core().RecordOf(2).seq, 9u);
    EXPECT_EQ(Seqs(), OneTo(9));
    // Not shown again: the rows go aside, the count still goes on.
    session.reset();
    ui.answers = {ANSWER_NO};
    Start(CPortMap::Empty(), RowLimits{100, 3});
    AddRows(1);
    EXPECT_EQ(session->Core().RecordOf(0).seq, 10u);
}

TEST_F(SessionFlowTest, ASecondCopyIsADeskOfItsOwn) {
    Start(CPortMap::Empty());
    RecordingSessionUi otherUi;
    SessionSetup setup;
    PlaceInTestFolder(setup, dir);
    setup.ports = CPortMap::Empty();
    CSession other(std::move(setup), otherUi);
    other.Start();
    EXPECT_EQ(other.Desk(), session->Desk() + "-2");
    AddRows(2);
    other.Link().SetConnected(true);
    const uint8_t frame[6] = {0x5F, 0x02, 0x00, 0x30, 0x39, 0x54};
    other.OnSerialData(frame, 6);
    EXPECT_EQ(other.Core().RecordOf(0).seq, 1u);
    EXPECT_EQ(other.ReadingsFrom(1, 10).size(), 1u);
    EXPECT_EQ(Seqs(), OneTo(2));
}

TEST_F(SessionFlowTest, RowsOfAJournalWithoutSeqsGetTheirsWhenShownAgain) {
    // Two rows as an earlier version of the program wrote them.
    std::string journal = "TARVEX-SCALE-JOURNAL\t1\n";
    for (int row = 0; row < 2; ++row) {
        std::string line = "R\t" + std::to_string(row) + "\tW\t1.234\t1796565787\t       " + std::to_string(row + 1) +
                           "\t1.2340\tKG\t00:00:07\t14:03:07 12/06/2026\t\t";
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08X", Crc32(line));
        journal += line + crc + "\n";
    }
    dir.Write("user-data/journal.txt", journal);
    ui.answers = {ANSWER_YES};
    Start(CPortMap::Empty());
    ASSERT_EQ(Rows(), 2);
    AddRows(1);
    EXPECT_EQ(Seqs(), OneTo(3));
    EXPECT_EQ(ReadJournal(dir.Read(JournalPath())).version, JOURNAL_VERSION);
}

// Takes every reading as it comes.
class RecordingOutput : public ISlowOutput {
public:
    bool Deliver(const RowRecord& reading) override {
        std::lock_guard<std::mutex> guard(lock);
        seqs.push_back(reading.seq);
        return true;
    }
    std::vector<uint64_t> Delivered() {
        std::lock_guard<std::mutex> guard(lock);
        return seqs;
    }
    std::mutex lock;
    std::vector<uint64_t> seqs;
};

// Delivers each reading, the first one only after ten seconds.
class StalledOutput : public RecordingOutput {
public:
    bool Deliver(const RowRecord& reading) override {
        if (first.exchange(false)) std::this_thread::sleep_for(std::chrono::seconds(10));
        return RecordingOutput::Deliver(reading);
    }
    std::atomic<bool> first{true};
};

TEST_F(SessionFlowTest, AnOutputThatBlocksForTenSecondsCostsNoAcknowledgeAndLosesNoReading) {
    RunningScale scale("good:1.234", 200);
    Start(Ports({{1, &scale.pty}}));
    StalledOutput slow;
    {
        CQueuedOutput queued(
            slow, 16, [this](uint64_t seq, size_t most) { return session->ReadingsFrom(seq, most); },
            [this](std::function<void()> work) { ui.Post(std::move(work)); });
        session->AddOutput(queued);
        Press(1);
        ASSERT_TRUE(ui.PumpUntil([&] { return Connected(); }, 5000));
        const auto blocked = std::chrono::steady_clock::now();
        // While it waits, every reading is acknowledged as it comes.
        ASSERT_TRUE(ui.PumpUntil([&] { return std::chrono::steady_clock::now() - blocked > std::chrono::seconds(9); },
                                 15000));
        const uint64_t rows = static_cast<uint64_t>(Rows());
        EXPECT_GT(rows, 500u);
        EXPECT_TRUE(slow.Delivered().empty());
        EXPECT_TRUE(ui.PumpUntil([&] { return scale.sim.Stats().acks.load() >= rows; }, 2000))
            << scale.sim.Stats().acks.load() << " of " << rows;
        session->OnOpenCloseConnection();
        ASSERT_TRUE(ui.PumpUntil([&] { return !Connected(); }, 2000));
        // Then it catches up from the journal: each reading once, in order.
        const uint64_t last = session->Core().LastSeq();
        EXPECT_TRUE(ui.PumpUntil([&] { return slow.Delivered().size() >= last && !queued.Behind(); }, 30000));
        EXPECT_EQ(slow.Delivered(), OneTo(last));
        EXPECT_EQ(queued.Confirmed(), last);
        session->RemoveOutput(queued);
    }
}

TEST_F(SessionFlowTest, ReadingsTheJournalCannotKeepReachOtherProgramsOnlyOnceItKeepsThem) {
    Start(CPortMap::Empty());
    RecordingOutput recording;
    CQueuedOutput queued(
        recording, 100, [this](uint64_t seq, size_t most) { return session->ReadingsFrom(seq, most); },
        [this](std::function<void()> work) { ui.Post(std::move(work)); });
    session->AddOutput(queued);
    const auto caughtUp = [&] { return ui.PumpUntil([&] { return !queued.Behind(); }, 5000); };
    AddRows(2);
    {
        FileSizeLimit full(std::filesystem::file_size(JournalPath()) + 10);  // a full disk
        AddRows(3);
    }
    ASSERT_TRUE(session->Journal().HasFailed());
    EXPECT_EQ(Rows(), 5);  // the window shows them all the same
    ASSERT_TRUE(caughtUp());
    EXPECT_EQ(recording.Delivered(), OneTo(2));
    // Room again: the next reading after the retry writes the whole table,
    // and the readings held back follow, each once and in order.
    ASSERT_TRUE(ui.PumpUntil(
        [&] {
            AddRows(1);
            return !session->Journal().HasFailed();
        },
        5000));
    AddRows(1);
    ASSERT_TRUE(caughtUp());
    EXPECT_EQ(recording.Delivered(), OneTo(session->Core().LastSeq()));
    session->RemoveOutput(queued);
}

}  // namespace
}  // namespace tarvex::test
