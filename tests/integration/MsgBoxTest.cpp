#include <gtest/gtest.h>

#include <wx/frame.h>

#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif

#include "tests/integration/ModalScript.h"
#include "app/MyMsg.h"
#include "tests/support/TempDir.h"
#include "text/TextCodec.h"

namespace tarvex::test {
namespace {

class MsgBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        parent = new wxFrame(nullptr, wxID_ANY, L"parent");
        box.SetLanguageFile(WideFromPath(dir.Write("L.ini",
            "[Message]\nWarning=Careful\n[Message_Button]\nMsg_IDOK=Fine\n")));
    }
    void TearDown() override { parent->Destroy(); }

    TempDir dir;
    ModalScript modal;
    CMyMsg box;
    wxFrame* parent = nullptr;
};

TEST_F(MsgBoxTest, CaptionDefaultsToWarningAndMissingLabelsAreEnglish) {
    box.SetMessage(MSG_YESNO, L"Sure?", L"");
    modal.Answer(IDNO_ANSWER);
    EXPECT_EQ(box.DoModal(parent), IDNO_ANSWER);
    box.SetMessage(MSG_OK, L"Done", L"Own caption");
    modal.Answer(IDOK_ANSWER);
    EXPECT_EQ(box.DoModal(parent), IDOK_ANSWER);
    ASSERT_EQ(modal.seen.size(), 2u);
    EXPECT_EQ(modal.seen[0].caption, L"Careful");
    EXPECT_EQ(modal.seen[0].text, L"Sure?");
    EXPECT_TRUE(modal.seen[0].yesShown && modal.seen[0].noShown && !modal.seen[0].okShown);
    EXPECT_EQ(modal.seen[0].yesLabel, L"Yes");  // missing keys: the shipped English
    EXPECT_EQ(modal.seen[0].noLabel, L"No");
    EXPECT_EQ(modal.seen[1].caption, L"Own caption");
    EXPECT_TRUE(modal.seen[1].okShown && !modal.seen[1].yesShown && !modal.seen[1].noShown);
    EXPECT_EQ(modal.seen[1].okLabel, L"Fine");
}

TEST_F(MsgBoxTest, RealButtonsAndKeysGiveTheirAnswers) {
    struct Case {
        int kind;
        std::function<void(wxDialog*)> act;
        int answer;
    };
    const Case cases[] = {
        {MSG_YESNO, [](wxDialog* d) { Click(d, IDYES_ANSWER); }, IDYES_ANSWER},
        {MSG_YESNO, [](wxDialog* d) { Click(d, IDNO_ANSWER); }, IDNO_ANSWER},
        {MSG_YESNO, [](wxDialog* d) { PressEscape(d); }, IDCANCEL_ANSWER},
        {MSG_YESNO, [](wxDialog* d) { d->Close(); }, IDCANCEL_ANSWER},
        {MSG_OK, [](wxDialog* d) { Click(d, IDOK_ANSWER); }, IDOK_ANSWER},
        {MSG_OK, [](wxDialog* d) { PressEscape(d); }, IDCANCEL_ANSWER},
    };
    for (const Case& c : cases) {
        box.SetMessage(c.kind, L"?", L"");
        modal.Then(c.act);
        EXPECT_EQ(box.DoModal(parent), c.answer);
    }
    EXPECT_EQ(modal.Pending(), 0u);
}

TEST_F(MsgBoxTest, NoticeWithoutWaitingIsItsOwnWindowAndIsReused) {
    box.SetMessage(MSG_OK, L"First", L"");
    box.ShowWithoutWaiting(parent);
    CMyMsgDialog* notice = box.NoticeWindow();
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->IsShown());
    EXPECT_FALSE(notice->IsModal());

    // A question while the notice is up gets a window of its own.
    box.SetMessage(MSG_YESNO, L"Question", L"");
    modal.Then([notice](wxDialog* d) {
        EXPECT_NE(d, notice);
        EXPECT_TRUE(notice->IsShown());
        Click(d, IDYES_ANSWER);
    });
    EXPECT_EQ(box.DoModal(parent), IDYES_ANSWER);
    EXPECT_EQ(Describe(notice).text, L"First");

    box.SetMessage(MSG_OK, L"Second", L"");
    box.ShowWithoutWaiting(parent);
    EXPECT_EQ(box.NoticeWindow(), notice);
    EXPECT_EQ(Describe(notice).text, L"Second");
    PressEscape(notice);
    EXPECT_FALSE(notice->IsShown());
}

TEST_F(MsgBoxTest, TheBoxGrowsWithItsTextAndKeepsItsButtonsBelowIt) {
    struct Seen {
        int height, textBottom, buttonTop;
    };
    std::vector<Seen> seen;
    const auto measure = [&](wxDialog* dialog) {
        const wxRect text = dialog->FindWindow(ID_MSG_TEXT)->GetRect();
        seen.push_back({dialog->GetClientSize().y, text.GetBottom(),
                        dialog->FindWindow(IDOK_ANSWER)->GetRect().GetTop()});
#ifdef __WXGTK__
        // The label is as tall as GTK needs to show every line at its width.
        wxWindow* label = dialog->FindWindow(ID_MSG_TEXT);
        int minimum = 0, natural = 0;
        gtk_widget_get_preferred_height_for_width(label->GetHandle(), label->GetSize().x, &minimum, &natural);
        EXPECT_GE(label->GetSize().y, natural) << label->GetLabel();
#endif
        return IDOK_ANSWER;
    };
    const std::wstring texts[] = {
        L"Short.",
        L"No scale answered on any serial port. Check that the scale is on and connected, then "
        L"press Connect again. If it still does not answer, check the cable and the port settings.",
        std::wstring(60, L'\u79f0'),  // Chinese, no blanks to wrap at
        L"The readings cannot be kept safe in /tmp/tarvex-e2e-home-fdyol_q8/.local/share/tarvex-scale: Not a "
        L"directory. If the program ends unexpectedly, readings not yet saved are lost: save the table before "
        L"you close the program.",  // GTK breaks the path after its slashes
    };
    for (const std::wstring& text : texts) {
        box.SetMessage(MSG_OK, text, L"");
        modal.Then([&](wxDialog* dialog) { dialog->EndModal(measure(dialog)); });
        box.DoModal(parent);
    }
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_GT(seen[1].height, seen[0].height);
    EXPECT_GT(seen[2].height, seen[0].height);
    const int lineHeight = parent->GetTextExtent(L"Ag").y;
    for (size_t i = 0; i < seen.size(); ++i) EXPECT_LT(seen[i].textBottom, seen[i].buttonTop) << i;
    EXPECT_GE(seen[1].height - seen[0].height, lineHeight);
}

}  // namespace
}  // namespace tarvex::test
