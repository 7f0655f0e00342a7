#include "ScaleApp.h"

#include <memory>

#include "ScaleDlg.h"

namespace tarvex {

bool CScaleApp::OnInit() {
    m_probe.StartIfAsked();
    return true;
}

int CScaleApp::OnRun() { return InitInstance(); }

int CScaleApp::InitInstance() {
    // On the heap: the window holds the 100000 stored weights.
    auto* dlg = new CScaleDlg();
    SetTopWindow(dlg);
    dlg->ShowModal();
    dlg->Destroy();
    return 0;
}

}  // namespace tarvex
