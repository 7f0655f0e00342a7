#pragma once
// The program's own message box: caption, text and button labels all come
// from the language file in use. One CMyMsg holds the message; each display
// gets a window of its own, so a question never lands in a window that is
// still showing a notice.

#include <string>

#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/weakref.h>

namespace tarvex {

constexpr int MSG_YESNO = 0;
constexpr int MSG_OK = 1;

// Answers, as the buttons' own ids.
constexpr int IDOK_ANSWER = 1;
constexpr int IDCANCEL_ANSWER = 2;
constexpr int IDYES_ANSWER = 6;
constexpr int IDNO_ANSWER = 7;
constexpr int ID_MSG_TEXT = 1019;
// Shown between characters that must not be broken apart; invisible, and
// left out of what the UI probe reports.
constexpr wchar_t WORD_JOINER = L'\u2060';

// The size a text control needs to show its label whole at the width, by
// the toolkit's own rule for breaking lines (GTK breaks a path after its
// slashes, Windows' static control at blanks and hyphens); the control's
// own size where the toolkit gives no measure.
wxSize NaturalTextSize(wxStaticText* label, int width);

class CMyMsgDialog : public wxDialog {
public:
    CMyMsgDialog(wxWindow* parent, bool modal);
    // What the box shows: buttons by kind, labels from the language file.
    void InitTexts(int kind, const std::wstring& text, const std::wstring& caption,
                   const std::wstring& languageFile);
    void PlaceAboveQuestions();

private:
    void FitText(const wxString& text);
    void OnButton(wxCommandEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnCloseBox(wxCloseEvent& event);
    void Finish(int answer);

    bool m_modal;
};

class CMyMsg {
public:
    CMyMsg() = default;
    CMyMsg(const CMyMsg&) = delete;
    CMyMsg& operator=(const CMyMsg&) = delete;

    void SetLanguageFile(std::wstring path) { m_languageFile = std::move(path); }
    const std::wstring& LanguageFile() const { return m_languageFile; }

    // An empty caption means the text of key "Warning" of section "Message".
    void SetMessage(int kind, std::wstring text, std::wstring caption);

    // Waits for the answer: 6 yes, 7 no, 1 OK, 2 Escape or the close box.
    int DoModal(wxWindow* parent);

    // Shows the notice and returns at once; OK hides it. A later notice
    // reuses the same window.
    void ShowWithoutWaiting(wxWindow* parent);
    CMyMsgDialog* NoticeWindow() const { return m_notice.get(); }
    bool NoticeShown() const;
    // Takes the notice away, as OK would.
    void HideNotice();

private:
    std::wstring m_languageFile;
    std::wstring m_caption;
    std::wstring m_text;
    int m_kind = MSG_YESNO;
    wxWeakRef<CMyMsgDialog> m_notice;
};

}  // namespace tarvex
