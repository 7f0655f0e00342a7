// Saving without a display: the save dialog's answers, the replace
// question, the reasons a save fails, and the full table saved, cleared and
// read on over the real driver and the scale simulator.

#include <cstdlib>
#include <filesystem>

#include "tests/integration/RunningScale.h"
#include "tests/integration/SessionFixture.h"
#include "tests/integration/WorkbookCheck.h"

namespace tarvex::test {
namespace {

const std::wstring kClearQuestion = L"Clear the readings shown from the table?";

class SessionSaveTest : public SessionTest {
protected:
    // What the table shows now, as the workbook must hold it; each sheet
    // column as wide as its list column's pixels / 6.
    ExpectedWorkbook Shown() const {
        ExpectedWorkbook e{{L"No.", L"Weight", L"Unit", L"Duration", L"Time", L"Remarks"}, {}, {}};
        for (const int pixels : ui.ColumnWidths()) e.widths.push_back(pixels / 6);
        const CMeasurementTable& table = session->Core().Table();
        for (int r = 0; r < table.RowCount(); ++r) {
            e.rows.emplace_back();
            for (int c = 0; c < COLUMN_COUNT; ++c) e.rows.back().push_back(table.Cell(r, c));
        }
        return e;
    }
    std::vector<std::filesystem::path> Stamped(const std::filesystem::path& folder) const {
        std::vector<std::filesystem::path> found;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            if (e.path().filename().string().rfind("TarvexDataFile-", 0) == 0) found.push_back(e.path());
        return found;
    }
};

TEST_F(SessionSaveTest, ASavedWorkbookHoldsTheTableAndTheNextDialogOpensInItsFolder) {
    const auto folder = dir.Path() / "out";
    std::filesystem::create_directories(folder);
    Start(CPortMap::Empty());
    AddRows(3);
    ui.savePaths = {WideFromPath(folder / "weights.xls")};
    ui.answers = {ANSWER_NO};
    session->OnSaveTable();
    ASSERT_EQ(ui.saveDialogs.size(), 1u);
    EXPECT_EQ(ui.saveDialogs[0].first.rfind(L"TarvexDataFile-", 0), 0u);
    EXPECT_EQ(ui.saveDialogs[0].second, WideFromPath(dir.Path()));  // the documents, the first time
    EXPECT_EQ(ui.questions, std::vector<std::wstring>{kClearQuestion});
    EXPECT_EQ(Rows(), 3);  // "no" keeps every row
    EXPECT_EQ(CheckWorkbook(folder / "weights.xls", Shown()), "");

    session->OnSaveTable();  // and cancelled
    ASSERT_EQ(ui.saveDialogs.size(), 2u);
    EXPECT_EQ(ui.saveDialogs[1].second, WideFromPath(folder));

    // A name typed without an extension, the .xlsx type chosen: the next
    // dialog offers that type again.
    ui.savePaths = {SaveChoice(WideFromPath(folder / "weights"), L".xlsx")};
    ui.answers = {ANSWER_NO};
    session->OnSaveTable();
    EXPECT_TRUE(std::filesystem::exists(folder / "weights.xlsx"));
    session->OnSaveTable();
    ASSERT_EQ(ui.saveDialogs.size(), 4u);
    EXPECT_TRUE(ui.saveDialogs[3].first.ends_with(L".xlsx")) << ui.saveDialogs[3].first;
    EXPECT_EQ(ui.saveTypes[3], L".xlsx");
}

TEST_F(SessionSaveTest, ATypedNameOfAnExistingWorkbookIsReplacedOnlyOnYes) {
    const auto typed = WideFromPath(dir.Path() / "clerk-table");
    const auto existing = dir.Write("clerk-table.xls", "the earlier table");
    const std::wstring replace = L"The file " + WideFromPath(existing) + L" already exists. Replace it?";
    Start(CPortMap::Empty());
    AddRows(2);
    // No, then the dialog comes back and is cancelled: the file stays.
    ui.savePaths = {typed};
    ui.answers = {ANSWER_NO};
    session->OnSaveTable();
    EXPECT_EQ(ui.questions, std::vector<std::wstring>{replace});
    ASSERT_EQ(ui.saveDialogs.size(), 2u);
    // It comes back with the name as typed, in its folder.
    EXPECT_EQ(ui.saveDialogs[1], std::make_pair(std::wstring(L"clerk-table"), WideFromPath(dir.Path())));
    EXPECT_EQ(TempDir::Read(existing), "the earlier table");
    // No, the same name again, then yes: replaced, and the clear question.
    ui.questions.clear();
    ui.savePaths = {typed, typed};
    ui.answers = {ANSWER_NO, ANSWER_YES, ANSWER_NO};
    session->OnSaveTable();
    EXPECT_EQ(ui.questions, (std::vector<std::wstring>{replace, replace, kClearQuestion}));
    EXPECT_EQ(CheckWorkbook(existing, Shown()), "");
}

TEST_F(SessionSaveTest, ASaveThatFailsSaysWhyAndKeepsTheTable) {
    const auto plainFile = dir.Write("plain-file", "x");
    const struct {
        const char* what;
        std::wstring path;
        bool tempFolderMissing;
        std::wstring told;  // the notice, or the part of it that names the reason
    } cases[] = {
        {"cancelled", L"", false, L""},
        {"no room for the .xlsx writer's temporary files", WideFromPath(dir.Path() / "t.xlsx"), true,
         L"The workbook could not be created."},
        {"a folder that is a file", WideFromPath(plainFile / "t.xls"), false, L"Not a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        exportTempFolder = c.tempFolderMissing ? (dir.Path() / "no-such-folder").string() : "";
        Start(CPortMap::Empty());
        AddRows(2);
        ui.told.clear();  // what start-up said
        ui.questions.clear();
        ui.savePaths = {c.path};
        session->OnSaveTable();
        EXPECT_TRUE(ui.questions.empty());  // no clear question after a failure
        if (c.told.empty()) {
            EXPECT_TRUE(ui.told.empty());
        } else {
            ASSERT_EQ(ui.told.size(), 1u);
            EXPECT_NE(ui.told[0].find(c.told), std::wstring::npos) << ui.told[0];
            EXPECT_EQ(ui.told[0].find(L".."), std::wstring::npos) << ui.told[0];
            if (!c.tempFolderMissing) {
                EXPECT_NE(ui.told[0].find(c.path), std::wstring::npos) << ui.told[0];
            }
        }
        if (!c.path.empty()) {
            EXPECT_FALSE(std::filesystem::exists(PathFromWide(c.path)));
        }
        EXPECT_EQ(TempDir::Read(plainFile), "x");
        EXPECT_EQ(Rows(), 2);
    }
}

class FullTableCycleTest : public SessionSaveTest {
protected:
    // At rate 0 the scale streams as fast as it is acknowledged.
    void Cycle(RowLimits limits, double rate) {
        RunningScale scale("good:1.5", rate);
        Start(Ports({{1, &scale.pty}}), limits);
        // The notice that names the workbook comes after the save and before
        // the table is emptied: keep what the table showed then.
        ExpectedWorkbook shown;
        std::wstring savedNotice;
        ui.onNotice = [&](const std::wstring& text) {
            if (text.starts_with(L"The table was full")) {
                shown = Shown();
                savedNotice = text;
            }
        };
        Press(1);
        ASSERT_TRUE(ui.PumpUntil([&] { return !savedNotice.empty(); }, 900000));
        ASSERT_TRUE(ui.PumpUntil([&] { return Rows() == 0; }, 2000));
        EXPECT_TRUE(ui.questions.empty());  // every row is saved: nothing to ask
        ASSERT_EQ(shown.rows.size(), static_cast<size_t>(limits.fullRow + 1));

        const auto saved = Stamped(dir.Path());
        ASSERT_EQ(saved.size(), 1u);  // in the program's folder, under the stamped name
        EXPECT_EQ(saved[0].extension(), ".xls");
        EXPECT_EQ(CheckWorkbook(saved[0], shown), "");
        EXPECT_EQ(savedNotice, L"The table was full, so it was saved as " + WideFromPath(saved[0]) +
                                   L" and emptied. Readings go on.");
        const std::wstring status = L"Saved " + std::to_wstring(limits.fullRow + 1) + L" readings to " + WideFromPath(saved[0]);
        EXPECT_TRUE(session->StatusText().ends_with(L"    " + status)) << session->StatusText();

        // The link comes back by itself; readings are numbered from 1 again.
        ASSERT_TRUE(ui.PumpUntil([&] { return Connected() && Rows() >= 2; }, 5000));
        EXPECT_EQ(session->Core().Table().Cell(0, COLUMN_NUMBER), L"       1");
        EXPECT_FALSE(session->Core().IsTableFull());
        EXPECT_GE(scale.sim.Stats().handshakes.load(), 2u);
        session->OnOpenCloseConnection();
    }
};

// Paced, so the link that comes back is closed before it fills the table again.
TEST_F(FullTableCycleTest, SavesClearsAndRestartsTheLink) { Cycle(RowLimits{5, 8}, 50); }

// The shipped limits, 65001 readings through the pty; run with the "long" label.
TEST_F(FullTableCycleTest, LONG_AtTheShippedLimits) {
    if (!std::getenv("TARVEX_LONG_TESTS")) GTEST_SKIP() << "set TARVEX_LONG_TESTS=1";
    Cycle(RowLimits{}, 0);
}

}  // namespace
}  // namespace tarvex::test
