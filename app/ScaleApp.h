#pragma once

#include <wx/app.h>

#include "app/UiProbe.h"

namespace tarvex {

// Runs the main window modally and ends the program when it closes.
class CScaleApp : public wxApp {
public:
    bool OnInit() override;
    int OnRun() override;

private:
    int InitInstance();

    CUiProbe m_probe;
};

}  // namespace tarvex
