// The main window's layout (template 102): every control at its place in
// dialog units, created in tab order.

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>

#include <algorithm>

#include "ControlIds.h"
#include "ScaleDlg.h"
#include "TableListCtrl.h"

namespace tarvex {

void CScaleDlg::BuildControls() {
    // The layout was drawn for a 9-point dialog font; keep its proportions.
    SetFont(wxFont(9, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
    const auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    const auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
    SetClientSize(size(289, 202));

    new wxButton(this, IDC_OPEN_CLOSE, L"开启连接", at(6, 159), size(50, 36));
    new wxRadioButton(this, IDC_UNIT_KG, L"KG", at(133, 170), size(19, 10), wxRB_GROUP);
    new wxRadioButton(this, IDC_UNIT_LB, L"LB", at(157, 170), size(19, 10));
    new wxRadioButton(this, IDC_UNIT_LBOZ, L"LB:OZ", at(133, 183), size(35, 10));
    m_list = new CTableListCtrl(this, IDC_LIST, at(7, 5), size(278, 149), m_core.Table());
    // Drop-down lists without an edit field: a typed text means nothing to
    // the connection or the language, only the entries do.
    m_portCombo = new wxChoice(this, IDC_PORT_COMBO, at(189, 165), wxSize(size(42, 14).x, -1));
    new wxStaticBox(this, IDC_UNIT_GROUP, L"显示单位选择", at(129, 156), size(51, 40));
    new wxButton(this, IDC_CLEAR, L"清空数据", at(69, 181), size(50, 14));
    new wxButton(this, IDC_REFRESH, L"刷新", at(203, 179), size(28, 14));
    new wxButton(this, IDC_SAVE, L"保存表格", at(69, 159), size(50, 14));
    new wxStaticBox(this, IDC_PORT_GROUP, L"串口设置", at(185, 156), size(48, 40));
    new wxStaticBox(this, IDC_LANGUAGE_GROUP, L"语言设置", at(235, 156), size(48, 40));
    m_languageCombo = new wxChoice(this, IDC_LANGUAGE_COMBO, at(237, 165), wxSize(size(42, 14).x, -1));
    new wxButton(this, IDC_CONFIRM_LANGUAGE, L"确认", at(251, 179), size(28, 14));

    // Group boxes are drawn after the controls inside them on GTK; keep the
    // controls above their frames.
    for (int id : {IDC_UNIT_GROUP, IDC_PORT_GROUP, IDC_LANGUAGE_GROUP}) FindWindow(id)->Lower();
    FitUnitButtons();
    MakeRoomBelowLists();
}

// GTK's radio mark takes more room than the layout gives "KG" and "LB":
// give each button its natural size, keep LB to the right of KG and let the
// group box take them in.
void CScaleDlg::FitUnitButtons() {
    wxWindow* kg = FindWindow(IDC_UNIT_KG);
    wxWindow* lb = FindWindow(IDC_UNIT_LB);
    for (int id : {IDC_UNIT_KG, IDC_UNIT_LB, IDC_UNIT_LBOZ}) {
        wxWindow* radio = FindWindow(id);
        wxSize natural = radio->GetSize();
        natural.IncTo(radio->GetBestSize());
        radio->SetSize(natural);
    }
    lb->Move(std::max(lb->GetPosition().x, kg->GetRect().GetRight() + 1), lb->GetPosition().y);
    wxWindow* group = FindWindow(IDC_UNIT_GROUP);
    const int margin = ConvertDialogToPixels(wxSize(1, 0)).x;
    const int right = std::max({kg->GetRect().GetRight(), lb->GetRect().GetRight(),
                                FindWindow(IDC_UNIT_LBOZ)->GetRect().GetRight()}) + margin;
    if (right > group->GetRect().GetRight())
        group->SetSize(right - group->GetPosition().x + 1, group->GetSize().y);
}

// GTK's drop-down lists are taller than the 14 units the layout gives them
// and would cover the buttons below; push those buttons down and let the
// group boxes and the window grow by the same amount.
void CScaleDlg::MakeRoomBelowLists() {
    const int gap = ConvertDialogToPixels(wxSize(0, 1)).y;
    int shift = 0;
    for (const auto& [list, button] : {std::pair{IDC_PORT_COMBO, IDC_REFRESH},
                                      std::pair{IDC_LANGUAGE_COMBO, IDC_CONFIRM_LANGUAGE}}) {
        const wxRect l = FindWindow(list)->GetRect();
        shift = std::max(shift, l.GetBottom() + gap - FindWindow(button)->GetPosition().y);
    }
    if (shift <= 0) return;
    for (int id : {IDC_REFRESH, IDC_CONFIRM_LANGUAGE}) FindWindow(id)->Move(FindWindow(id)->GetPosition() + wxPoint(0, shift));
    for (int id : {IDC_UNIT_GROUP, IDC_PORT_GROUP, IDC_LANGUAGE_GROUP, IDC_OPEN_CLOSE}) {
        wxWindow* w = FindWindow(id);
        w->SetSize(w->GetSize() + wxSize(0, shift));
    }
    SetClientSize(GetClientSize() + wxSize(0, shift));
}

}  // namespace tarvex
