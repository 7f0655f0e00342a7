#include "app/ScaleApp.h"

#include <memory>

#include <wx/log.h>
#include <wx/stdpaths.h>

#include "app/ScaleDlg.h"

namespace tarvex {

bool CScaleApp::OnInit() {
    // Every reading wakes the event loop; no window of ours needs idle or
    // update-UI events, so none is sent to every control each time.
    wxIdleEvent::SetMode(wxIDLE_PROCESS_SPECIFIED);
    wxUpdateUIEvent::SetMode(wxUPDATE_UI_PROCESS_SPECIFIED);
    m_probe.StartIfAsked();
    // The framework's own complaints go to the standard error stream: every
    // box a clerk sees is one of ours, in the user's language. (Its log
    // dialog also crashes the static Windows build when several pile up.)
    delete wxLog::SetActiveTarget(new wxLogStderr);
    return true;
}

int CScaleApp::OnRun() { return InitInstance(); }

int CScaleApp::InitInstance() {
    ScaleDlgSetup setup;
    setup.executablePath = wxStandardPaths::Get().GetExecutablePath().ToStdWstring();
    auto* dlg = new CScaleDlg(std::move(setup));
    SetTopWindow(dlg);
    dlg->ShowModal();
    dlg->Destroy();
    return 0;
}

}  // namespace tarvex
