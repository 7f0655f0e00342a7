#pragma once
// Answers the modal boxes a test expects, in order, and records what each
// one showed. A box nobody expected fails the test and is cancelled.

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/modalhook.h>
#include <wx/stattext.h>

#include "app/MyMsg.h"

namespace tarvex::test {

struct SeenBox {
    std::string className;
    wxString caption;
    wxString text;
    bool yesShown = false, noShown = false, okShown = false;
    wxString yesLabel, noLabel, okLabel;
};

inline SeenBox Describe(wxDialog* dialog) {
    SeenBox seen;
    seen.className = typeid(*dialog).name();  // mangled, but holds the class name
    seen.caption = dialog->GetTitle();
    if (auto* text = dialog->FindWindow(ID_MSG_TEXT)) {
        // The words as written: the joiners that guide line breaks left out.
        seen.text = wxControl::RemoveMnemonics(text->GetLabel());
        seen.text.Replace(wxString(wxUniChar(WORD_JOINER)), wxString());
    }
    auto button = [dialog](int id, bool& shown, wxString& label) {
        if (auto* b = dynamic_cast<wxButton*>(dialog->FindWindow(id))) {
            shown = b->IsShown();
            label = b->GetLabelText();
        }
    };
    button(IDYES_ANSWER, seen.yesShown, seen.yesLabel);
    button(IDNO_ANSWER, seen.noShown, seen.noLabel);
    button(IDOK_ANSWER, seen.okShown, seen.okLabel);
    return seen;
}

class ModalScript : public wxModalDialogHook {
public:
    // Returns the answer without showing the box, or wxID_NONE to let it show.
    using Responder = std::function<int(wxDialog*)>;

    ModalScript() { Register(); }
    ~ModalScript() override { Unregister(); }

    void Answer(int answer) {
        m_responders.push_back([answer](wxDialog*) { return answer; });
    }
    // Lets the box come up for real and then acts on it from inside its loop.
    void Then(std::function<void(wxDialog*)> action) {
        m_responders.push_back([action](wxDialog* dialog) {
            wxTheApp->CallAfter([dialog, action] { action(dialog); });
            return static_cast<int>(wxID_NONE);
        });
    }

    std::vector<SeenBox> seen;
    size_t Pending() const { return m_responders.size(); }

protected:
    int Enter(wxDialog* dialog) override {
        // The save dialog is answered by a hook of its own (see ExportWindowTest).
        if (dynamic_cast<wxFileDialog*>(dialog)) return wxID_NONE;
        seen.push_back(Describe(dialog));
        if (m_responders.empty()) {
            ADD_FAILURE() << "unexpected modal box: " << seen.back().className << " \""
                          << seen.back().text << "\"";
            return wxID_CANCEL;
        }
        Responder next = m_responders.front();
        m_responders.pop_front();
        return next(dialog);
    }
    void Exit(wxDialog*) override {}

private:
    std::deque<Responder> m_responders;
};

// Sends a click to a button as the user's press would.
inline void Click(wxWindow* parent, int id) {
    wxWindow* control = parent->FindWindow(id);
    ASSERT_NE(control, nullptr) << id;
    wxCommandEvent event(wxEVT_BUTTON, id);
    event.SetEventObject(control);
    control->GetEventHandler()->ProcessEvent(event);
}

inline void PressEscape(wxWindow* window) {
    wxKeyEvent key(wxEVT_CHAR_HOOK);
    key.m_keyCode = WXK_ESCAPE;
    key.SetEventObject(window);
    window->GetEventHandler()->ProcessEvent(key);
}

}  // namespace tarvex::test
