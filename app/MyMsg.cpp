#include "app/MyMsg.h"

#include <wx/button.h>
#include <wx/display.h>
#include <wx/arrstr.h>
#include <wx/stattext.h>

#include <algorithm>

#include "text/ProfileFile.h"
#include "text/TextLookup.h"

#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif
#ifdef __WXMSW__
#include <wx/msw/wrapwin.h>
#endif

namespace tarvex {
namespace {

wxPoint Du(wxWindow* w, int x, int y) { return w->ConvertDialogToPixels(wxPoint(x, y)); }
wxSize DuSize(wxWindow* w, int cx, int cy) { return w->ConvertDialogToPixels(wxSize(cx, cy)); }

// The box as laid out for two lines of text, in dialog units.
constexpr int BOX_WIDTH = 177, BOX_HEIGHT = 70;
constexpr int TEXT_X = 26, TEXT_Y = 16, TEXT_WIDTH = 123, TEXT_HEIGHT = 23;
constexpr int BUTTON_Y = 50;
constexpr std::pair<int, int> BUTTON_X[] = {{IDYES_ANSWER, 23}, {IDNO_ANSWER, 99}, {IDOK_ANSWER, 60}};
// Past this the text is cut; no message of ours comes near it.
constexpr int TEXT_MAX_HEIGHT = 160;

// How many lines the text takes when wrapped at the width: at blanks where
// there are any, anywhere in a run of characters without one (Chinese).
int WrappedLines(const wxWindow* w, const wxString& text, int width) {
    int lines = 0;
    for (const wxString& paragraph : wxSplit(text, L'\n', L'\0')) {
        ++lines;
        int used = 0;
        wxString word;
        const auto place = [&](const wxString& piece) {
            int extent = w->GetTextExtent(piece).x;
            if (used > 0 && used + extent > width) {
                ++lines;
                used = 0;
            }
            // A piece wider than a line (a long path) is broken anywhere.
            for (; extent > width; extent -= width) ++lines;
            used += extent;
        };
        for (const wxUniChar c : paragraph) {
            if (c == L' ' || c.GetValue() >= 0x2E80) {  // a blank or a CJK character ends a piece
                if (!word.empty()) place(word);
                word.clear();
                place(wxString(c));
            } else {
                word += c;
            }
        }
        if (!word.empty()) place(word);
    }
    return std::max(lines, 1);
}

// The widest piece of a path between its separators: a line must hold it
// for the path to break only at them.
int WidestPathPiece(const wxWindow* w, const wxString& text) {
    int widest = 0;
    for (const wxString& word : wxSplit(text, L' ', L'\0')) {
        if (word.find_first_of(L"/\\") == wxString::npos) continue;
        wxString piece;
        for (const wxUniChar c : word) {
            piece += c;
            if (c == L'/' || c == L'\\' || c == L'\n') {
                widest = std::max(widest, w->GetTextExtent(piece).x);
                piece.clear();
            }
        }
        widest = std::max(widest, w->GetTextExtent(piece).x);
    }
    return widest;
}

// Where the toolkit may break a box's lines. A path is broken along its
// folders only: never right after its first "/" nor after a hyphen in a
// folder's name ("xdg-data"), where Pango would break. A word joiner keeps
// the characters on either side together.
constexpr size_t CJK_LAST_LINE = 5;  // characters at least on a Chinese text's last line

wxString KeepLinesTogether(const wxString& text) {
#ifdef __WXGTK__
    wxString shown;
    size_t wordStart = 0;
    bool inPath = false;
    for (size_t i = 0; i < text.length(); ++i) {
        const wxUniChar c = text[i];
        if (c == L' ' || c == L'\n') {
            inPath = false;
            wordStart = i + 1;
        } else if (i == wordStart) {
            // A word is a path when it has a separator before its next blank.
            const size_t end = text.find_first_of(L" \n", i);
            inPath = text.substr(i, end == wxString::npos ? wxString::npos : end - i).find(L'/') != wxString::npos;
        }
        shown += c;
        if (inPath && ((c == L'/' && i == wordStart) || c == L'-')) shown += wxUniChar(WORD_JOINER);
        // The last characters of a Chinese sentence go to a line together,
        // so "吗？" never stands alone on the last one.
        const bool sentenceEnd = i + 1 == text.length() || text[i + 1] == L'\n';
        size_t left = 0;
        for (size_t j = i + 1; j < text.length() && text[j] != L'\n' && text[j].GetValue() >= 0x2E80; ++j) ++left;
        if (!sentenceEnd && c.GetValue() >= 0x2E80 && left > 0 && left < CJK_LAST_LINE &&
            (i + 1 + left == text.length() || text[i + 1 + left] == L'\n'))
            shown += wxUniChar(WORD_JOINER);
    }
    return shown;
#else
    return text;
#endif
}

}  // namespace

wxSize NaturalTextSize(wxStaticText* label, int width) {
#if defined(__WXGTK__)
    int minimum = 0, natural = 0;
    gtk_widget_get_preferred_height_for_width(static_cast<GtkWidget*>(label->GetHandle()), width, &minimum, &natural);
    return {width, natural};
#elif defined(__WXMSW__)
    const auto hwnd = static_cast<HWND>(label->GetHandle());
    HDC dc = ::GetDC(hwnd);
    HGDIOBJ before = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)));
    RECT need{0, 0, width, 0};
    const std::wstring shown = label->GetLabelText().ToStdWstring();
    // The rule a left-aligned static control draws with.
    ::DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &need,
                DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    ::SelectObject(dc, before);
    ::ReleaseDC(hwnd, dc);
    return {need.right, need.bottom};
#else
    (void)width;
    return label->GetSize();
#endif
}

CMyMsgDialog::CMyMsgDialog(wxWindow* parent, bool modal)
    : wxDialog(parent, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU),
      m_modal(modal) {
    SetFont(wxFont(8, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
    SetClientSize(DuSize(this, BOX_WIDTH, BOX_HEIGHT));
    auto* text = new wxStaticText(this, ID_MSG_TEXT, wxString(), Du(this, TEXT_X, TEXT_Y),
                                  DuSize(this, TEXT_WIDTH, TEXT_HEIGHT), wxALIGN_LEFT | wxST_NO_AUTORESIZE);
#ifdef __WXGTK__
    // Long paths have no blank to break at: they are broken anywhere.
    gtk_label_set_line_wrap(GTK_LABEL(text->GetHandle()), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(text->GetHandle()), PANGO_WRAP_WORD_CHAR);
#else
    (void)text;
#endif
    auto* yes = new wxButton(this, IDYES_ANSWER, wxString(), Du(this, 23, BUTTON_Y), DuSize(this, 50, 14));
    auto* no = new wxButton(this, IDNO_ANSWER, wxString(), Du(this, 99, BUTTON_Y), DuSize(this, 50, 14));
    auto* ok = new wxButton(this, IDOK_ANSWER, L"OK", Du(this, 60, BUTTON_Y), DuSize(this, 50, 14));
    yes->Hide();
    no->Hide();
    yes->SetDefault();
    ok->SetFocus();
    Bind(wxEVT_BUTTON, &CMyMsgDialog::OnButton, this);
    Bind(wxEVT_CHAR_HOOK, &CMyMsgDialog::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CMyMsgDialog::OnCloseBox, this);
}

void CMyMsgDialog::PlaceAboveQuestions() {
    // Questions are centred on the main window; a notice sits just above
    // where they appear, so a question that follows it never hides it.
    wxWindow* parent = GetParent();
    if (!parent) {
        CentreOnScreen();
        return;
    }
    const wxRect main = parent->GetScreenRect();
    const wxSize size = GetSize();
    const int gap = ConvertDialogToPixels(wxSize(0, 4)).y;
    wxPoint at(main.x + (main.width - size.x) / 2, main.y + (main.height - size.y) / 2 - size.y - gap);
    const wxRect screen = wxDisplay(parent).GetClientArea();
    at.x = std::clamp(at.x, screen.x, std::max(screen.x, screen.GetRight() - size.x));
    at.y = std::max(at.y, screen.y);
    Move(at);
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
        yes->SetLabel(LanguageText(languageFile, SECTION_BUTTON, L"Msg_IDYES"));
        no->SetLabel(LanguageText(languageFile, SECTION_BUTTON, L"Msg_IDNO"));
        yes->SetFocus();
    } else if (kind == MSG_OK) {
        ok->Show();
        yes->Hide();
        no->Hide();
        ok->SetLabel(LanguageText(languageFile, SECTION_BUTTON, L"Msg_IDOK"));
        ok->SetFocus();
    }
    SetTitle(caption);
    // An "&" in a path is shown, not a mnemonic.
    auto* label = static_cast<wxStaticText*>(FindWindow(ID_MSG_TEXT));
    label->SetLabelText(KeepLinesTogether(text));
#ifdef __WXGTK__
    // A name too long for a line is broken where it must, with no hyphen
    // added that the path does not have.
    PangoAttrList* attributes = pango_attr_list_new();
    pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
    gtk_label_set_attributes(GTK_LABEL(label->GetHandle()), attributes);
    pango_attr_list_unref(attributes);
#endif
    FitText(text);
}

void CMyMsgDialog::FitText(const wxString& text) {
    // The box grows downwards with its text; the buttons keep their row
    // below it and their order.
    // A box widens (up to most of the screen) for a folder name that would
    // not fit on a line of its own.
    const int usual = DuSize(this, TEXT_WIDTH, 0).x;
    const int room = wxDisplay(GetParent() ? GetParent() : this).GetClientArea().width * 9 / 10 -
                     DuSize(this, BOX_WIDTH - TEXT_WIDTH, 0).x;
    const int width = std::clamp(WidestPathPiece(this, text) + GetCharWidth(), usual, std::max(usual, room));
    const int wider = width - usual;
    const int lineHeight = GetTextExtent(L"Ag").y;
    int needed = WrappedLines(this, text, width) * lineHeight + lineHeight / 2;
    // The toolkit breaks lines where it will, not where the estimate does:
    // the label itself says how tall it is at this width.
    needed = std::max(needed, NaturalTextSize(static_cast<wxStaticText*>(FindWindow(ID_MSG_TEXT)), width).y + lineHeight / 2);
    const int base = DuSize(this, 0, TEXT_HEIGHT).y;
    const int grow = std::clamp(needed - base, 0, DuSize(this, 0, TEXT_MAX_HEIGHT - TEXT_HEIGHT).y);
    FindWindow(ID_MSG_TEXT)->SetSize(Du(this, TEXT_X, TEXT_Y).x, Du(this, TEXT_X, TEXT_Y).y, width, base + grow);
    for (const auto& [id, x] : BUTTON_X)
        FindWindow(id)->Move(Du(this, x, 0).x + wider / 2, Du(this, 0, BUTTON_Y).y + grow);
    SetClientSize(DuSize(this, BOX_WIDTH, BOX_HEIGHT) + wxSize(wider, grow));
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
                    ? LanguageText(m_languageFile, SECTION_MESSAGE, L"Warning")
                    : std::move(caption);
    m_text = std::move(text);
    m_kind = kind;
}

int CMyMsg::DoModal(wxWindow* parent) {
    CMyMsgDialog box(parent, true);
    box.InitTexts(m_kind, m_text, m_caption, m_languageFile);
    box.CentreOnParent();
    return box.ShowModal();
}

bool CMyMsg::NoticeShown() const { return m_notice && m_notice->IsShown(); }

void CMyMsg::HideNotice() {
    if (m_notice) m_notice->Hide();
}

void CMyMsg::ShowWithoutWaiting(wxWindow* parent) {
    if (!m_notice) {
        m_notice = new CMyMsgDialog(parent, false);
#ifdef __WXGTK__
        // The main window runs modally, and GTK keeps input from every other
        // window of its group: a group of its own lets the notice take clicks.
        GtkWindowGroup* group = gtk_window_group_new();
        gtk_window_group_add_window(group, GTK_WINDOW(m_notice->GetHandle()));
        g_object_unref(group);
#endif
    }
    m_notice->InitTexts(m_kind, m_text, m_caption, m_languageFile);
    m_notice->PlaceAboveQuestions();
    m_notice->Show();
    m_notice->Raise();
}

}  // namespace tarvex
