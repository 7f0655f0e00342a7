// Saving from the window: the toolkit's own save dialog. What the session
// does with its answer is tested without a display (SessionSaveTest).

#include <wx/filedlg.h>

#include "tests/integration/WindowFixture.h"
#include "tests/integration/WorkbookCheck.h"

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

TEST_F(ExportWindowTest, TheListsColumnWidthsReachTheWorkbook) {
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
    EXPECT_EQ(modal.seen[0].text, L"Clear the readings shown from the table?");
    EXPECT_EQ(Rows(), 3);  // "no" keeps every row

    ExpectedWorkbook e{{L"No.", L"Weight", L"Unit", L"Duration", L"Time", L"Remarks"}, SheetWidths(), {}};
    for (int r = 0; r < 3; ++r) {
        e.rows.emplace_back();
        for (int c = 0; c < COLUMN_COUNT; ++c) e.rows.back().push_back(dlg->Session().Core().Table().Cell(r, c));
    }
    EXPECT_EQ(CheckWorkbook(dir.Path() / "out" / "weights.xls", e), "");
}

}  // namespace
}  // namespace tarvex::test
