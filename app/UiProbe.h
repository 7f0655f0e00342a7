#pragma once
// For end-to-end tests only: when TARVEX_UI_PROBE names a file, the program
// writes there, whenever it changes, what is on screen: every shown window
// with its title and place, and every control with its id, text, place and
// state. Tests find controls through it and click them with real X input.

#include <string>
#include <vector>

#include <wx/modalhook.h>
#include <wx/timer.h>

namespace tarvex {

class CUiProbe : public wxEvtHandler, private wxModalDialogHook {
public:
    ~CUiProbe() override;
    // Starts when the variable is set; otherwise does nothing at all.
    void StartIfAsked();

private:
    void OnTimer(wxTimerEvent& event);
    std::string Describe() const;
    // Native dialogs (the save dialog) are not among wx's own windows;
    // they are seen while they run modally.
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog* dialog) override;

    std::vector<wxDialog*> m_modal;
    wxTimer m_timer;
    std::string m_path;
    std::string m_last;
};

}  // namespace tarvex
