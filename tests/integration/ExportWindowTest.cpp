// Saving from the window: the save dialog, the failure paths, and the
// full-table cycle with the real driver and the simulator.

#include <atomic>
#include <cstdlib>
#include <thread>

#include <wx/filedlg.h>

#include "RunningScale.h"
#include "WindowFixture.h"
#include "WorkbookCheck.h"

namespace tarvex::test {
namespace {

class ExportWindowTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        WriteSetting(kEnglishSetting);
    }
    // Each sheet column is as wide as its list column's pixels / 6.
    std::vector<int> SheetWidths() const {
        std::vector<int> widths;
        for (int i = 0; i < COLUMN_COUNT; ++i) widths.push_back(dlg->List().GetColumnWidth(i) / 6);
        return widths;
    }
    static std::vector<std::filesystem::path> Workbooks(const std::filesystem::path& folder) {
        std::vector<std::filesystem::path> found;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            if (e.path().extension() == ".xls") found.push_back(e.path());
        return found;
    }
};

// The real save dialog, answered before it shows.
class SaveDialogAnswer : public wxModalDialogHook {
public:
    explicit SaveDialogAnswer(std::filesystem::path path, int answer = wxID_OK)
        : m_path(std::move(path)), m_answer(answer) { Register(); }
    ~SaveDialogAnswer() override { Unregister(); }
    int shown = 0;
    std::wstring initialName;

protected:
    int Enter(wxDialog* dialog) override {
        auto* save = dynamic_cast<wxFileDialog*>(dialog);
        if (!save) return wxID_NONE;  // anything else goes to the ModalScript
        ++shown;
        initialName = save->GetFilename().ToStdWstring();
        return m_answer;
    }
    void Exit(wxDialog*) override {}

private:
    std::filesystem::path m_path;
    int m_answer;
};

TEST_F(ExportWindowTest, CancelInTheDialogDoesNothing) {
    Open(CPortMap::Empty());
    AddRows(2);
    SaveDialogAnswer answer(dir.Path() / "never.xls", wxID_CANCEL);
    Click(dlg, IDC_SAVE);
    EXPECT_EQ(answer.shown, 1);
    EXPECT_TRUE(modal.seen.empty());
    EXPECT_TRUE(Workbooks(dir.Path()).empty());
    EXPECT_EQ(Rows(), 2);
}

TEST_F(ExportWindowTest, SavedFileHoldsTheTableAndTheClearQuestionFollows) {
    // The user narrows the last column before saving.
    const auto path = dir.Path() / "out" / "weights.xls";
    std::filesystem::create_directories(path.parent_path());
    std::wstring initialName;
    chooseSavePath = [&](const std::wstring& initial) { initialName = initial; return WideFromPath(path); };
    Open(CPortMap::Empty());
    AddRows(3);
    dlg->List().SetColumnWidth(5, 5);
    modal.Answer(IDNO_ANSWER);
    Click(dlg, IDC_SAVE);
    EXPECT_EQ(initialName.rfind(L"TarvexDataFile-", 0), 0u);
    ASSERT_EQ(modal.seen.size(), 1u);
    EXPECT_EQ(modal.seen[0].text, L"Clear every reading from the table?");
    EXPECT_EQ(Rows(), 3);  // "no" keeps every row

    ExpectedWorkbook e{{L"No.", L"Weight", L"Unit", L"Duration", L"Time", L"Remarks"}, SheetWidths(), {}};
    for (int r = 0; r < 3; ++r) {
        e.rows.emplace_back();
        for (int c = 0; c < COLUMN_COUNT; ++c) e.rows.back().push_back(dlg->Session().Core().Table().Cell(r, c));
    }
    EXPECT_EQ(CheckWorkbook(dir.Path() / "out" / "weights.xls", e), "");
}

TEST_F(ExportWindowTest, WriterThatCannotBeginTellsSoAndKeepsTheTable) {
    // Only the .xlsx writer needs room for temporary files.
    exportTempFolder = (dir.Path() / "no-such-folder").string();
    chooseSavePath = [&](const std::wstring&) { return WideFromPath(dir.Path() / "t.xlsx"); };
    Open(CPortMap::Empty());
    AddRows(2);
    modal.Answer(IDOK_ANSWER);
    Click(dlg, IDC_SAVE);
    ASSERT_EQ(modal.seen.size(), 1u);  // the notice, and no clear question
    EXPECT_EQ(modal.seen[0].text, L"The workbook could not be created.");
    EXPECT_TRUE(modal.seen[0].okShown);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "t.xlsx"));
    EXPECT_EQ(Rows(), 2);
}

TEST_F(ExportWindowTest, FailedSaveSaysWhyInTheUsersLanguageAndKeepsTheTable) {
    const auto notAFolder = dir.Write("plain-file", "x");
    const std::wstring target = WideFromPath(notAFolder / "t.xls");
    chooseSavePath = [&](const std::wstring&) { return target; };
    Open(CPortMap::Empty());
    AddRows(2);
    modal.Answer(IDOK_ANSWER);
    Click(dlg, IDC_SAVE);
    ASSERT_EQ(modal.seen.size(), 1u);  // the reason, and no clear question after it
    const std::wstring text = modal.seen[0].text.ToStdWstring();
    EXPECT_NE(text.find(target), std::wstring::npos) << text;
    EXPECT_NE(text.find(L"Not a directory"), std::wstring::npos) << text;
    EXPECT_EQ(text.find(L"..") , std::wstring::npos) << text;
    EXPECT_EQ(TempDir::Read(notAFolder), "x");
    EXPECT_EQ(Rows(), 2);
}

class FullTableCycleTest : public ExportWindowTest {
protected:
    // At rate 0 the scale streams as fast as it is acknowledged.
    void Cycle(RowLimits limits, double rate) {
        RunningScale scale("good:1.5", rate);
        CPortMap ports = CPortMap::Empty();
        ports.Set(1, scale.pty.DevicePath());
        Open(ports, limits);
        // The clear question comes after the save and before the table is
        // emptied: keep what the table showed then, and answer no.
        ExpectedWorkbook shown{{L"No.", L"Weight", L"Unit", L"Duration", L"Time", L"Remarks"}, SheetWidths(), {}};
        modal.Then([&](wxDialog* box) {
            const CMeasurementTable& table = dlg->Session().Core().Table();
            for (int r = 0; r < table.RowCount(); ++r) {
                shown.rows.emplace_back();
                for (int c = 0; c < COLUMN_COUNT; ++c) shown.rows.back().push_back(table.Cell(r, c));
            }
            Click(box, IDNO_ANSWER);
        });
        static_cast<wxChoice*>(dlg->FindWindow(IDC_PORT_COMBO))->SetSelection(1);
        Click(dlg, IDC_OPEN_CLOSE);
        ASSERT_TRUE(PumpUntil([&] { return modal.Pending() == 0; }, 900000));
        EXPECT_EQ(modal.seen.back().text, L"Clear every reading from the table?");
        ASSERT_EQ(shown.rows.size(), static_cast<size_t>(limits.fullRow + 1));
        EXPECT_EQ(Rows(), 0);  // emptied whatever the answer

        std::vector<std::filesystem::path> saved;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            if (e.path().filename().string().rfind("TarvexDataFile-", 0) == 0) saved.push_back(e.path());
        ASSERT_EQ(saved.size(), 1u);  // in the program's folder, under the stamped name
        EXPECT_EQ(saved[0].extension(), ".xls");
        EXPECT_EQ(CheckWorkbook(saved[0], shown), "");

        // The link comes back by itself; readings are numbered from 1 again.
        ASSERT_TRUE(PumpUntil([&] { return dlg->Session().IsConnected() && Rows() >= 2; }, 5000));
        EXPECT_EQ(dlg->Session().Core().Table().Cell(0, COLUMN_NUMBER), L"       1");
        EXPECT_FALSE(dlg->Session().Core().IsTableFull());
        EXPECT_GE(scale.sim.Stats().handshakes.load(), 2u);
        Click(dlg, IDC_OPEN_CLOSE);
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
