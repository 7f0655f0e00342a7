// The main window's layout (template 102): every control at its place in
// dialog units, created in tab order.

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/display.h>
#include <wx/settings.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

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

    m_openClose = new wxButton(this, IDC_OPEN_CLOSE, L"开启连接", at(6, 159), size(50, 36));
    // The unit texts are fixed; Alt+K, Alt+L and Alt+O pick a unit.
    m_units = {new wxRadioButton(this, IDC_UNIT_KG, L"&KG", at(133, 170), size(19, 10), wxRB_GROUP),
               new wxRadioButton(this, IDC_UNIT_LB, L"&LB", at(157, 170), size(19, 10)),
               new wxRadioButton(this, IDC_UNIT_LBOZ, L"LB:&OZ", at(133, 183), size(35, 10))};
    m_list = new CTableListCtrl(this, IDC_LIST, at(7, 5), size(278, 149), m_session.Core().Table());
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
    for (int id : {IDC_PORT_GROUP, IDC_PORT_COMBO, IDC_REFRESH, IDC_LANGUAGE_GROUP, IDC_LANGUAGE_COMBO,
                   IDC_CONFIRM_LANGUAGE})
        m_linkControls.push_back(FindWindow(id));
    FitUnitButtons();
    MakeRoomBelowLists();
    WidenLists();
    AddStatusLine();
    RememberLayout();
    Bind(wxEVT_SIZE, &CScaleDlg::OnSize, this);
}

// The two lists must show "COM29", "自动检索", "English", "简体中文" whole:
// each takes the width of its widest entry at this font, its group and
// button grow with it, and whatever lies to the right moves over.
void CScaleDlg::WidenLists() {
    struct Grown {
        int list, group, button;
        std::initializer_list<const wchar_t*> widest;
    };
    const Grown lists[] = {
        {IDC_PORT_COMBO, IDC_PORT_GROUP, IDC_REFRESH, {L"自动检索", L"COM29"}},
        {IDC_LANGUAGE_COMBO, IDC_LANGUAGE_GROUP, IDC_CONFIRM_LANGUAGE, {L"English", L"简体中文"}},
    };
    int shift = 0;
    for (const Grown& g : lists) {
        auto* list = static_cast<wxChoice*>(FindWindow(g.list));
        for (int id : {g.list, g.group, g.button}) FindWindow(id)->Move(FindWindow(id)->GetPosition() + wxPoint(shift, 0));
        for (const wchar_t* entry : g.widest) list->Append(entry);
        const int best = list->GetBestSize().x;
        list->Clear();
        int grow = std::max(0, best - list->GetSize().x);
        list->SetSize(list->GetSize() + wxSize(grow, 0));
        FindWindow(g.group)->SetSize(FindWindow(g.group)->GetSize() + wxSize(grow, 0));
        FindWindow(g.button)->Move(FindWindow(g.button)->GetPosition() + wxPoint(grow, 0));
#ifdef __WXMSW__
        // Windows' themes (and Wine's) paint a group box's frame a few pixels
        // into the box: keep the list and its button 4 dialog units inside
        // both edges, as the port list is on its left.
        wxWindow* group = FindWindow(g.group);
        const int inset = ConvertDialogToPixels(wxSize(4, 0)).x;
        const int left = std::max(0, inset - (list->GetPosition().x - group->GetPosition().x));
        for (int id : {g.list, g.button}) FindWindow(id)->Move(FindWindow(id)->GetPosition() + wxPoint(left, 0));
        const int widen = std::max(0, inset - (group->GetRect().GetRight() - list->GetRect().GetRight()));
        group->SetSize(group->GetSize() + wxSize(widen, 0));
        grow += widen;
#endif
        shift += grow;
    }
    SetClientSize(GetClientSize() + wxSize(shift, 0));
    m_list->SetSize(m_list->GetSize() + wxSize(shift, 0));
}

// Beyond the template: the link's state and port, the number of readings
// and their sum, on a line of its own under the controls.
void CScaleDlg::AddStatusLine() {
    const wxPoint at = ConvertDialogToPixels(wxPoint(7, 0));
    int bottom = 0;
    for (wxWindow* child : GetChildren()) bottom = std::max(bottom, child->GetRect().GetBottom());
    const int gap = ConvertDialogToPixels(wxSize(0, 3)).y;
    m_status = new wxStaticText(this, IDC_STATUS, wxString(), wxPoint(at.x, bottom + gap),
                                wxSize(m_list->GetSize().x, -1), wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    SetClientSize(GetClientSize().x, m_status->GetRect().GetBottom() + gap);
}

// The window may grow: the table takes the room, everything else keeps its
// place relative to the bottom edge. The laid-out size is the least.
void CScaleDlg::RememberLayout() {
    m_baseClient = GetClientSize();
    m_baseList = m_list->GetSize();
    m_basePositions.clear();
    for (wxWindow* child : GetChildren())
        if (child != m_list) m_basePositions.emplace_back(child, child->GetPosition());
    SetMinClientSize(m_baseClient);
}

// Every column shows whole without scrolling sideways: the window grows to
// take them (as far as the screen allows), and that is its least size.
void CScaleDlg::WidenForColumns() {
    const int needed = m_list->ColumnsWidth() + wxSystemSettings::GetMetric(wxSYS_VSCROLL_X) +
                       (m_list->GetSize().x - m_list->GetClientSize().x);
    int extra = needed - m_list->GetSize().x;
    const int room = wxDisplay(this).GetClientArea().width - GetSize().x;
    extra = std::min(extra, room);
    if (extra <= 0) return;
    m_baseClient.x += extra;
    m_baseList.x += extra;
    SetMinClientSize(m_baseClient);
    SetClientSize(m_baseClient);
    CentreOnScreen();
}

void CScaleDlg::OnSize(wxSizeEvent& event) {
    event.Skip();
    if (m_basePositions.empty()) return;
    const wxSize now = GetClientSize();
    const int dx = std::max(0, now.x - m_baseClient.x);
    const int dy = std::max(0, now.y - m_baseClient.y);
    m_list->SetSize(m_baseList + wxSize(dx, dy));
    for (const auto& [child, at] : m_basePositions) child->Move(at + wxPoint(0, dy));
    m_status->SetSize(m_baseList.x + dx, -1);
    m_list->FitLastColumn();
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
