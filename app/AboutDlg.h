#pragma once

#include <wx/dialog.h>

namespace tarvex {

// Text of the About entry of the window's menu.
extern const wchar_t* const ABOUT_ENTRY_TEXT;
constexpr int IDM_ABOUTBOX = 0x0010;

class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* parent);
};

}  // namespace tarvex
