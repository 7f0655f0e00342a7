#pragma once

#include <wx/dialog.h>

namespace tarvex {

// The id of the About entry of the window's menu.
constexpr int IDM_ABOUTBOX = 0x0010;

class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* parent);
};

}  // namespace tarvex
