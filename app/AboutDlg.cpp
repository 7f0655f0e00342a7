#include "app/AboutDlg.h"

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <algorithm>

#include "app/AppIcon.h"

namespace tarvex {

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, L"About Tarvex Scale", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU) {
    const auto du = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    const auto dus = [this](int x, int y) { return ConvertDialogToPixels(wxSize(x, y)); };
    SetClientSize(dus(170, 62));
    new wxStaticBitmap(this, wxID_ANY, AppIcon(), du(14, 14));
    auto* name = new wxStaticText(this, wxID_ANY, L"Tarvex Scale, version 0.1", du(42, 14));
    auto* what = new wxStaticText(this, wxID_ANY, L"Reads parcel weights from a serial scale.", du(42, 26));
    auto* ok = new wxButton(this, wxID_OK, L"OK", du(113, 41), dus(50, 14));
    ok->SetDefault();
    // The lines take their natural width at this font; the box and its
    // button follow the longer one.
    const int right = std::max(name->GetRect().GetRight(), what->GetRect().GetRight()) + dus(7, 0).x;
    const int grow = std::max(0, right - GetClientSize().x);
    SetClientSize(GetClientSize() + wxSize(grow, 0));
    ok->Move(ok->GetPosition() + wxPoint(grow, 0));
    CentreOnParent();
}

}  // namespace tarvex
