#include "MyMsg.h"

#include <wx/button.h>
#include <wx/stattext.h>

#include "ProfileFile.h"
#include "TextLookup.h"

namespace tarvex {
namespace {

wxPoint Du(wxWindow* w, int x, int y) { return w->ConvertDialogToPixels(wxPoint(x, y)); }
wxSize DuSize(wxWindow* w, int cx, int cy) { return w->ConvertDialogToPixels(wxSize(cx, cy)); }

}  // namespace

CMyMsgDialog::CMyMsgDialog(wxWindow* parent, bool modal)
    : wxDialog(parent, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU),
      m_modal(modal) {
    SetFont(wxFont(8, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
    SetClientSize(DuSize(this, 177, 70));
    new wxStaticText(this, ID_MSG_TEXT, wxString(), Du(this, 26, 16), DuSize(this, 123, 23),
                     wxALIGN_LEFT | wxST_NO_AUTORESIZE);
    auto* yes = new wxButton(this, IDYES_ANSWER, wxString(), Du(this, 23, 50), DuSize(this, 50, 14));
    auto* no = new wxButton(this, IDNO_ANSWER, wxString(), Du(this, 99, 50), DuSize(this, 50, 14));
    auto* ok = new wxButton(this, IDOK_ANSWER, L"OK", Du(this, 60, 50), DuSize(this, 50, 14));
    yes->Hide();
    no->Hide();
    yes->SetDefault();
    ok->SetFocus();
    Bind(wxEVT_BUTTON, &CMyMsgDialog::OnButton, this);
    Bind(wxEVT_CHAR_HOOK, &CMyMsgDialog::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CMyMsgDialog::OnCloseBox, this);
    CentreOnParent();
}

void CMyMsgDialog::InitTexts(int kind, const std::wstring& text, const std::wstring& caption,
                             const std::wstring& languageFile) {
    auto* yes = FindWindow(IDYES_ANSWER);
    auto* no = FindWindow(IDNO_ANSWER);
    auto* ok = FindWindow(IDOK_ANSWER);
    if (kind == MSG_YESNO) {
        ok->Hide();
        yes->Show();
        no->Show();
        yes->SetLabel(ReadProfileText(languageFile, SECTION_BUTTON, L"Msg_IDYES"));
        no->SetLabel(ReadProfileText(languageFile, SECTION_BUTTON, L"Msg_IDNO"));
        yes->SetFocus();
    } else if (kind == MSG_OK) {
        ok->Show();
        yes->Hide();
        no->Hide();
        ok->SetLabel(ReadProfileText(languageFile, SECTION_BUTTON, L"Msg_IDOK"));
        ok->SetFocus();
    }
    SetTitle(caption);
    FindWindow(ID_MSG_TEXT)->SetLabel(text);
}

void CMyMsgDialog::Finish(int answer) {
    if (m_modal)
        EndModal(answer);
    else
        Hide();
}

void CMyMsgDialog::OnButton(wxCommandEvent& event) {
    const int id = event.GetId();
    if (id == IDYES_ANSWER || id == IDNO_ANSWER || id == IDOK_ANSWER)
        Finish(id);
    else
        event.Skip();
}

void CMyMsgDialog::OnCharHook(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE)
        Finish(IDCANCEL_ANSWER);
    else
        event.Skip();
}

void CMyMsgDialog::OnCloseBox(wxCloseEvent&) { Finish(IDCANCEL_ANSWER); }

void CMyMsg::SetMessage(int kind, std::wstring text, std::wstring caption) {
    m_caption = caption.empty()
                    ? ReadProfileText(m_languageFile, SECTION_MESSAGE, L"Warning")
                    : std::move(caption);
    m_text = std::move(text);
    m_kind = kind;
}

int CMyMsg::DoModal(wxWindow* parent) {
    CMyMsgDialog box(parent, true);
    box.InitTexts(m_kind, m_text, m_caption, m_languageFile);
    return box.ShowModal();
}

void CMyMsg::ShowWithoutWaiting(wxWindow* parent) {
    if (!m_notice) m_notice = new CMyMsgDialog(parent, false);
    m_notice->InitTexts(m_kind, m_text, m_caption, m_languageFile);
    m_notice->Show();
    m_notice->Raise();
}

}  // namespace tarvex
