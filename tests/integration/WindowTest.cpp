#include "tests/integration/WindowFixture.h"

#include <wx/radiobut.h>

#include "app/AboutDlg.h"
#include "text/LanguageSettings.h"
#include "text/ProfileFile.h"

namespace tarvex::test {
namespace {

TEST_F(WindowTest, TextsComeFromTheLanguageFileSettingNames) {
    WriteSetting(kEnglishSetting);
    Open();
    EXPECT_EQ(dlg->GetTitle(), L"Tarvex Scale");
    const std::pair<int, const wchar_t*> expected[] = {
        {IDC_OPEN_CLOSE, L"Connect"},  {IDC_SAVE, L"Save table"}, {IDC_CLEAR, L"Clear data"},
        {IDC_UNIT_GROUP, L"Unit"},     {IDC_PORT_GROUP, L"Port"}, {IDC_REFRESH, L"Refresh"},
        {IDC_LANGUAGE_GROUP, L"Language"}, {IDC_CONFIRM_LANGUAGE, L"Apply"},
        {IDC_UNIT_KG, L"KG"},          {IDC_UNIT_LB, L"LB"},      {IDC_UNIT_LBOZ, L"LB:OZ"},
    };
    for (const auto& [id, text] : expected) EXPECT_EQ(Label(id), text) << id;
    const wchar_t* headers[] = {L"No.", L"Weight", L"Unit", L"Duration", L"Time", L"Remarks"};
    ASSERT_EQ(dlg->List().GetColumnCount(), COLUMN_COUNT);
    int used = 0;
    for (int i = 0; i < COLUMN_COUNT; ++i) {
        EXPECT_EQ(dlg->List().HeaderText(i), headers[i]);
        // The drawn widths, grown with the font and never narrower.
        EXPECT_GE(dlg->List().GetColumnWidth(i), i == 5 ? 200 : 80);
        used += dlg->List().GetColumnWidth(i);
    }
    // The whole time text shows, and the columns stay within the list.
    EXPECT_GT(dlg->List().GetColumnWidth(COLUMN_UPDATE_TIME), dlg->List().GetTextExtent(L"14:03:07 12/06/2026").x);
    EXPECT_LE(used, dlg->List().GetClientSize().x);
    EXPECT_TRUE(static_cast<wxRadioButton*>(dlg->FindWindow(IDC_UNIT_KG))->GetValue());
    ASSERT_EQ(LanguageList()->GetCount(), 2u);
    EXPECT_EQ(LanguageList()->GetString(static_cast<unsigned>(LanguageList()->GetSelection())), L"English");
}

TEST_F(WindowTest, UnreadableSettingOrLanguageFilesGiveEnglishWordsAndAreToldOnce) {
    const std::string utf16NoMark("[\0L\0a\0n\0g\0]\0", 12);
    struct Case {
        const char* name;
        std::function<void()> make;
        const wchar_t* reasonPart;
    };
    const std::vector<Case> cases{
        {"no Setting.ini", [&] { std::filesystem::remove(dir.Path() / "Setting.ini"); }, L"No such file"},
        {"Setting.ini is a folder",
         [&] {
             std::filesystem::remove(dir.Path() / "Setting.ini");
             std::filesystem::create_directory(dir.Path() / "Setting.ini");
         },
         L"Is a directory"},
        {"random bytes", [&] { WriteSetting(std::string("\x9c\x01\xff=\x00[\x80", 8)); }, L"none of the texts"},
        {"over 1 MiB", [&] { WriteSetting(std::string(kEnglishSetting) + std::string(2 << 20, ';')); }, L"larger than 1 MiB"},
        {"UTF-16 without a byte-order mark", [&] { WriteSetting(utf16NoMark); }, L"none of the texts"},
        {"an empty language file", [&] { dir.Write("Language/English.ini", ""); }, L"none of the texts"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        std::filesystem::remove_all(dir.Path() / "Setting.ini");
        WriteSetting(kEnglishSetting);
        c.make();
        modal.Answer(IDOK_ANSWER);
        Open(CPortMap::Empty());
        EXPECT_EQ(dlg->GetTitle(), L"Tarvex Scale");
        EXPECT_EQ(Label(IDC_OPEN_CLOSE), L"Connect");
        EXPECT_EQ(dlg->List().HeaderText(0), L"No.");
        ASSERT_EQ(modal.seen.size(), 1u);
        EXPECT_NE(modal.seen[0].text.Find(c.reasonPart), wxNOT_FOUND) << modal.seen[0].text;
        EXPECT_EQ(modal.seen[0].okLabel, L"OK");
        modal.seen.clear();
        // A question shown now has its words too.
        AddRows(1);
        modal.Answer(IDYES_ANSWER);
        Click(dlg, IDC_CLEAR);
        ASSERT_EQ(modal.seen.size(), 1u);
        EXPECT_EQ(modal.seen[0].text, L"Clear the readings shown from the table?");
        EXPECT_EQ(modal.seen[0].yesLabel, L"Yes");
        EXPECT_EQ(Rows(), 0);
        modal.seen.clear();
    }
}

TEST_F(WindowTest, UnusableLanguageFilesAreMarkedAndNotTaken) {
    dir.Write("Language/Empty.ini", "");
    std::filesystem::create_directory(dir.Path() / "Language" / "Folder");
    Open();
    std::vector<wxString> entries;
    for (unsigned i = 0; i < LanguageList()->GetCount(); ++i) entries.push_back(LanguageList()->GetString(i));
    EXPECT_EQ(entries.size(), 4u);
    EXPECT_NE(std::find(entries.begin(), entries.end(), L"Empty.ini (cannot be read)"), entries.end());
    EXPECT_NE(std::find(entries.begin(), entries.end(), L"Folder (cannot be read)"), entries.end());
    const int folder = static_cast<int>(std::find(entries.begin(), entries.end(), L"Folder (cannot be read)") - entries.begin());
    LanguageList()->SetSelection(folder);
    modal.Answer(IDOK_ANSWER);
    Click(dlg, IDC_CONFIRM_LANGUAGE);
    ASSERT_EQ(modal.seen.size(), 1u);
    EXPECT_NE(modal.seen[0].text.Find(L"Is a directory"), wxNOT_FOUND);
    EXPECT_EQ(Label(IDC_OPEN_CLOSE), L"Connect");
    EXPECT_NE(TempDir::Read(dir.Path() / "Setting.ini").find("English.ini"), std::string::npos);
}

TEST_F(WindowTest, ConfirmWritesSettingRenewsHeadersAndNextBoxUsesNewFile) {
    WriteSetting(kEnglishSetting);
    Open();
    AddRows(2);
    int chinese = -1;
    for (unsigned i = 0; i < LanguageList()->GetCount(); ++i)
        if (LanguageList()->GetString(i) == L"简体中文") chinese = static_cast<int>(i);
    ASSERT_GE(chinese, 0);
    LanguageList()->SetSelection(chinese);
    Click(dlg, IDC_CONFIRM_LANGUAGE);

    const std::wstring setting = dlg->Session().SettingFile();
    EXPECT_EQ(ReadProfileText(setting, L"Language_Configuration", L"Language_Name"), L"简体中文");
    EXPECT_EQ(ReadProfileText(setting, L"Language_Configuration", L"Language_FileName"), L"\\Chinese.ini");
    EXPECT_EQ(dlg->GetTitle(), L"Tarvex 电子秤");
    const wchar_t* headers[] = {L"序号", L"数据", L"单位", L"时长", L"更新时间", L"说明"};
    ASSERT_EQ(dlg->List().GetColumnCount(), COLUMN_COUNT);
    for (int i = 0; i < COLUMN_COUNT; ++i) EXPECT_EQ(dlg->List().HeaderText(i), headers[i]);
    EXPECT_EQ(Rows(), 2);  // the rows stay

    modal.Answer(IDNO_ANSWER);
    Click(dlg, IDC_CLEAR);
    ASSERT_EQ(modal.seen.size(), 1u);
    EXPECT_EQ(modal.seen[0].caption, L"警告");
    EXPECT_EQ(modal.seen[0].text, L"确定清空表格中显示的数据吗？");
    EXPECT_EQ(modal.seen[0].yesLabel, L"是(Y)");
    EXPECT_EQ(modal.seen[0].noLabel, L"否(N)");

    // Starting again selects the remembered line and uses that file.
    Open();
    EXPECT_EQ(LanguageList()->GetSelection(), chinese);
    EXPECT_EQ(Label(IDC_CLEAR), L"清空数据(E)");
}

TEST_F(WindowTest, ConfirmWithNoLineSelectedIsAnErrorAndChangesNothing) {
    WriteSetting(kEnglishSetting);
    std::filesystem::remove_all(dir.Path() / "Language");
    modal.Answer(IDOK_ANSWER);  // the language file named cannot be read
    Open();
    modal.seen.clear();
    EXPECT_EQ(LanguageList()->GetCount(), 0u);
    const std::string before = TempDir::Read(dir.Path() / "Setting.ini");
    modal.Answer(wxID_OK);
    Click(dlg, IDC_CONFIRM_LANGUAGE);
    ASSERT_EQ(modal.seen.size(), 1u);
    EXPECT_NE(modal.seen[0].className.find("MessageDialog"), std::string::npos);
    EXPECT_EQ(TempDir::Read(dir.Path() / "Setting.ini"), before);
    EXPECT_EQ(dlg->Session().LanguageFile(), WideFromPath(dir.Path()) + L"/Language/English.ini");
}

TEST_F(WindowTest, NameMatchingTwiceSelectsTheLaterLine) {
    dir.Write("Language/English-copy.ini", ShippedFile("Language/English.ini"));
    WriteSetting(kEnglishSetting);
    Open();
    const auto entries = ListLanguageEntries(WideFromPath(dir.Path()) + L"/");
    int last = -1;
    for (size_t i = 0; i < entries.size(); ++i)
        if (ReadProfileText(entries[i], L"Language_Configuration", L"Language_Name") == L"English")
            last = static_cast<int>(i);
    EXPECT_EQ(LanguageList()->GetSelection(), last);
}

TEST_F(WindowTest, ClosingWithRowsClosesOnlyOnYes) {
    WriteSetting(kEnglishSetting);
    Open();
    dlg->Close();  // empty table: nothing asked
    EXPECT_TRUE(modal.seen.empty());
    EXPECT_FALSE(dlg->IsShown());

    Open();
    AddRows(1);
    modal.Answer(IDNO_ANSWER);
    dlg->Close();
    ASSERT_EQ(modal.seen.size(), 1u);
    EXPECT_EQ(modal.seen[0].text, L"The table still holds readings. Close the program anyway?");
    EXPECT_TRUE(modal.seen[0].yesShown && modal.seen[0].noShown && !modal.seen[0].okShown);
    EXPECT_TRUE(dlg->IsShown());

    // Escape and the close box mean "don't", as everywhere.
    modal.Then([](wxDialog* box) { PressEscape(box); });
    dlg->Close();
    modal.Then([](wxDialog* box) { box->Close(); });
    dlg->Close();
    EXPECT_EQ(modal.seen.size(), 3u);
    EXPECT_TRUE(dlg->IsShown());
    EXPECT_EQ(Rows(), 1);

    modal.Then([](wxDialog* box) { Click(box, IDYES_ANSWER); });
    dlg->Close();
    EXPECT_FALSE(dlg->IsShown());
}

TEST_F(WindowTest, ClearQuestionKeepsRowsOnAnythingButYes) {
    WriteSetting(kEnglishSetting);
    Open();
    AddRows(3);
    modal.Answer(IDNO_ANSWER);
    Click(dlg, IDC_CLEAR);
    EXPECT_EQ(Rows(), 3);
    modal.Then([](wxDialog* box) { box->Close(); });  // the close box
    Click(dlg, IDC_CLEAR);
    EXPECT_EQ(Rows(), 3);
    modal.Then([](wxDialog* box) { PressEscape(box); });
    Click(dlg, IDC_CLEAR);
    EXPECT_EQ(Rows(), 3);
    ASSERT_TRUE(ListCaughtUp());
    EXPECT_EQ(dlg->List().GetItemCount(), 3);
    // A real press of the yes button.
    modal.Then([](wxDialog* box) { Click(box, IDYES_ANSWER); });
    Click(dlg, IDC_CLEAR);
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(dlg->List().GetItemCount(), 0);
    ASSERT_EQ(modal.seen.size(), 4u);
    EXPECT_EQ(modal.seen[0].caption, L"Tarvex Scale");
    EXPECT_EQ(modal.seen[0].yesLabel, L"Yes");
    EXPECT_EQ(modal.seen[0].noLabel, L"No");
}

TEST_F(WindowTest, NearlyFullNoticeDoesNotStopReadings) {
    WriteSetting(kEnglishSetting);
    Open();
    AddRows(60001);  // the last one has row number 60000
    CMyMsgDialog* notice = dlg->MsgBox().NoticeWindow();
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->IsShown());
    const SeenBox seen = Describe(notice);
    EXPECT_EQ(seen.text, L"The table is nearly full (60000 rows). Save and clear it soon.");
    EXPECT_TRUE(seen.okShown && !seen.yesShown);
    EXPECT_EQ(seen.okLabel, L"OK");
    AddRows(5);
    EXPECT_EQ(Rows(), 60006);
    ASSERT_TRUE(ListCaughtUp());
    EXPECT_EQ(dlg->List().GetItemCount(), 60006);
    EXPECT_TRUE(modal.seen.empty());
    Click(notice, IDOK_ANSWER);  // OK hides the notice
    EXPECT_FALSE(notice->IsShown());
}

TEST_F(WindowTest, UnitButtonsRewriteTheTable) {
    WriteSetting(kEnglishSetting);
    Open();
    AddRows(1);
    auto* lb = static_cast<wxRadioButton*>(dlg->FindWindow(IDC_UNIT_LB));
    lb->SetValue(true);
    wxCommandEvent click(wxEVT_RADIOBUTTON, IDC_UNIT_LB);
    click.SetEventObject(lb);
    lb->GetEventHandler()->ProcessEvent(click);
    EXPECT_EQ(dlg->List().GetItemText(0, COLUMN_DATA), L"2720.8");
    EXPECT_EQ(dlg->List().GetItemText(0, COLUMN_UNIT), L"LB");
}

TEST_F(WindowTest, BytesNoFontDrawsShowAsHexOnOneLine) {
    WriteSetting(kEnglishSetting);
    Open();
    dlg->Session().Link().SetConnected(true);
    const uint8_t damaged[] = {0x5F, 0x0D, 0x0A, 0x07, 0x41, 0x7F};
    dlg->Session().OnSerialData(damaged, 6);  // asks for a repeat
    dlg->Session().OnSerialData(damaged, 6);  // the repeat is damaged too: an error row
    ASSERT_EQ(Rows(), 1);
    ASSERT_TRUE(ListCaughtUp());
    const wxString shown = dlg->List().GetItemText(0, COLUMN_EXPLAN);
    EXPECT_TRUE(shown.EndsWith(L"_\\x0D\\x0A\\x07A\\x7F")) << shown;
    // The table itself (and so the workbook) keeps the bytes.
    EXPECT_NE(dlg->Session().Core().Table().Cell(0, COLUMN_EXPLAN).find(L"\r\n\x07"), std::wstring::npos);
}

TEST_F(WindowTest, AHugeRemarkShowsItsStartAndKeepsEveryByte) {
    Open();
    dlg->Session().Link().SetConnected(true);
    const std::vector<uint8_t> noise(1900, 0x41);
    for (int i = 0; i < 2; ++i) {
        dlg->Session().OnSerialData(noise.data(), static_cast<int>(noise.size()));
        dlg->Session().OnTimer(SessionTimer::Quiet);  // the line fell quiet
    }
    ASSERT_EQ(Rows(), 1);
    ASSERT_TRUE(ListCaughtUp());
    const wxString shown = dlg->List().GetItemText(0, COLUMN_EXPLAN);
    EXPECT_EQ(shown.length(), CTableListCtrl::MAX_SHOWN_CELL + 1);  // the start and an ellipsis
    EXPECT_TRUE(shown.EndsWith(L"\u2026"));
    EXPECT_EQ(dlg->Session().Core().Table().Cell(0, COLUMN_EXPLAN).size(), std::wstring(L"Damaged frame:").size() + 1900);
}

TEST_F(WindowTest, AboutBoxFromTheMenuCommand) {
    WriteSetting(kEnglishSetting);
    Open();
    modal.Answer(wxID_OK);
    modal.Answer(wxID_OK);
    dlg->OnSysCommand(IDM_ABOUTBOX);
    dlg->OnSysCommand(IDM_ABOUTBOX | 0x3);  // low bits do not matter
    dlg->OnSysCommand(0xF060);               // another command opens nothing
    ASSERT_EQ(modal.seen.size(), 2u);
    EXPECT_NE(modal.seen[0].className.find("CAboutDlg"), std::string::npos);
}

}  // namespace
}  // namespace tarvex::test
