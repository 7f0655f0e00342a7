// The main window's layout (template 102): the controls created in tab
// order, their sizes in dialog units, placed by sizers so each control keeps
// at least its natural size in every toolkit and the table takes the room
// when the window grows.

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/display.h>
#include <wx/radiobut.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <algorithm>

#include "app/ControlIds.h"
#include "app/ScaleDlg.h"
#include "app/TableListCtrl.h"

namespace tarvex {
namespace {

// A drop-down list as wide as the widest entry it must show whole
// ("COM29", "自动检索", "English", "简体中文") at this font.
void FitToEntries(wxChoice* list, std::initializer_list<const wchar_t*> widest) {
    for (const wchar_t* entry : widest) list->Append(entry);
    list->SetMinSize(wxSize(std::max(list->GetSize().x, list->GetBestSize().x), -1));
    list->Clear();
}

}  // namespace

void CScaleDlg::BuildControls() {
    // The layout was drawn for a 9-point dialog font; keep its proportions.
    SetFont(wxFont(9, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
    const auto du = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
    const wxPoint at = wxDefaultPosition;

    m_openClose = new wxButton(this, IDC_OPEN_CLOSE, L"开启连接", at, du(50, 36));
    // The unit texts are fixed; Alt+K, Alt+L and Alt+O pick a unit.
    m_units = {new wxRadioButton(this, IDC_UNIT_KG, L"&KG", at, wxDefaultSize, wxRB_GROUP),
               new wxRadioButton(this, IDC_UNIT_LB, L"&LB"), new wxRadioButton(this, IDC_UNIT_LBOZ, L"LB:&OZ")};
    // Made before the table, so the table lies over it and it shows as a
    // frame; it takes no keyboard and has no place in the layout.
    m_tableFrame = new wxWindow(this, wxID_ANY);
    m_tableFrame->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT));
    m_tableFrame->Hide();
    m_list = new CTableListCtrl(this, IDC_LIST, at, du(278, 149), m_session.Table());
    // Drop-down lists without an edit field: a typed text means nothing to
    // the connection or the language, only the entries do.
    m_portCombo = new wxChoice(this, IDC_PORT_COMBO, at, wxSize(du(42, 14).x, -1));
    auto* unitGroup = new wxStaticBox(this, IDC_UNIT_GROUP, L"显示单位选择");
    auto* clear = new wxButton(this, IDC_CLEAR, L"清空数据", at, du(50, 14));
    auto* refresh = new wxButton(this, IDC_REFRESH, L"刷新", at, du(28, 14));
    auto* save = new wxButton(this, IDC_SAVE, L"保存表格", at, du(50, 14));
    auto* portGroup = new wxStaticBox(this, IDC_PORT_GROUP, L"串口设置");
    auto* languageGroup = new wxStaticBox(this, IDC_LANGUAGE_GROUP, L"语言设置");
    m_languageCombo = new wxChoice(this, IDC_LANGUAGE_COMBO, at, wxSize(du(42, 14).x, -1));
    auto* confirm = new wxButton(this, IDC_CONFIRM_LANGUAGE, L"确认", at, du(28, 14));
    // Beyond the template: the scale's protocol, its commands, and its live
    // weight shown large with its state.
    auto* scaleLabel = new wxStaticText(this, IDC_SCALE_LABEL, L"秤");
    m_scaleCombo = new wxChoice(this, IDC_SCALE_COMBO);
    auto* findProtocol = new wxButton(this, IDC_FIND_PROTOCOL, L"识别协议(&F)");
    m_zero = new wxButton(this, IDC_ZERO, L"置零(&Z)");
    m_tare = new wxButton(this, IDC_TARE, L"去皮(&A)");
    m_weigh = new wxButton(this, IDC_WEIGH, L"称重(&W)");
    m_liveWeight = new wxStaticText(this, IDC_LIVE_WEIGHT, wxString(), at, wxDefaultSize, wxST_NO_AUTORESIZE);
    m_liveWeight->SetFont(GetFont().Scaled(2.0f).Bold());
    m_liveState = new wxStaticText(this, IDC_LIVE_STATE, wxString());
    // Beyond the template: typing each weight into the program in front.
    m_typing = new wxCheckBox(this, IDC_TYPING, L"将重量输入到前台程序(&T)");
    // Beyond the template: the link's state and port, the number of readings
    // and their sum, on a line of its own under the controls.
    m_status = new wxStaticText(this, IDC_STATUS, wxString(), at, wxDefaultSize, wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    m_linkControls = {portGroup, m_portCombo, refresh, languageGroup, m_languageCombo, confirm, m_scaleCombo, findProtocol};
    // Group boxes are drawn after the controls inside them on GTK; keep the
    // controls above their frames.
    for (wxWindow* group : {unitGroup, portGroup, languageGroup}) group->Lower();
    FitToEntries(m_portCombo, {L"自动检索", L"COM29"});
    FitToEntries(m_languageCombo, {L"English", L"简体中文"});
    FitToEntries(m_scaleCombo, {L"Frames (0x5A handshake)", L"NCI / SCP-01"});
    // Room for "-9999.999 kg" however the weight changes.
    m_liveWeight->SetMinSize(m_liveWeight->GetTextExtent(L"-9999.999 kg") + wxSize(du(2, 0).x, 0));

    const int gap = du(0, 3).y;
    auto* units = new wxStaticBoxSizer(unitGroup, wxVERTICAL);
    auto* unitRow = new wxBoxSizer(wxHORIZONTAL);
    unitRow->Add(m_units[0]);
    unitRow->Add(m_units[1], 0, wxLEFT, du(2, 0).x);
    units->Add(unitRow, 0, wxTOP | wxLEFT | wxRIGHT, gap);
    units->Add(m_units[2], 0, wxALL, gap);
    // A list over its button, the button to the right.
    const auto listGroup = [&](wxStaticBox* box, wxWindow* list, wxWindow* button) {
        auto* sizer = new wxStaticBoxSizer(box, wxVERTICAL);
        sizer->Add(list, 0, wxEXPAND | wxLEFT | wxRIGHT, du(2, 0).x);
        sizer->Add(button, 0, wxALIGN_RIGHT | wxALL, du(2, 0).x);
        return sizer;
    };
    auto* saveAndClear = new wxBoxSizer(wxVERTICAL);
    saveAndClear->Add(save, 0, wxTOP, gap);
    saveAndClear->AddSpacer(du(0, 8).y);
    saveAndClear->Add(clear);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->AddSpacer(du(6, 0).x);
    row->Add(m_openClose, 0, wxEXPAND | wxTOP | wxBOTTOM, gap);
    row->Add(saveAndClear, 0, wxLEFT, du(13, 0).x);
    row->Add(units, 0, wxEXPAND | wxLEFT, du(10, 0).x);
    row->Add(listGroup(portGroup, m_portCombo, refresh), 0, wxEXPAND | wxLEFT, du(5, 0).x);
    row->Add(listGroup(languageGroup, m_languageCombo, confirm), 0, wxEXPAND | wxLEFT | wxRIGHT, du(2, 0).x);
    auto* table = new wxBoxSizer(wxHORIZONTAL);
    table->Add(m_list, 1, wxEXPAND | wxLEFT, du(7, 0).x);
    table->AddSpacer(du(4, 0).x);
    auto* status = new wxBoxSizer(wxHORIZONTAL);
    status->Add(m_status, 1, wxLEFT | wxRIGHT, du(7, 0).x);
    auto* window = new wxBoxSizer(wxVERTICAL);
    window->AddSpacer(du(0, 5).y);
    window->Add(table, 1, wxEXPAND);
    window->Add(row, 0, wxTOP, du(0, 2).y);
    auto* scale = new wxBoxSizer(wxHORIZONTAL);
    scale->Add(scaleLabel, 0, wxALIGN_CENTER_VERTICAL);
    scale->Add(m_scaleCombo, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, du(3, 0).x);
    scale->Add(findProtocol, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, du(3, 0).x);
    for (wxButton* command : {m_zero, m_tare, m_weigh})
        scale->Add(command, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, du(3, 0).x);
    scale->Add(m_liveWeight, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, du(8, 0).x);
    scale->Add(m_liveState, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, du(3, 0).x);
    window->Add(scale, 0, wxLEFT | wxTOP, du(6, 3).x);
    window->Add(m_typing, 0, wxLEFT | wxTOP, du(6, 3).x);
    window->Add(status, 0, wxEXPAND | wxTOP | wxBOTTOM, gap);
    SetSizerAndFit(window);
    // The table keeps Remarks as wide as the room it is given.
    m_list->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        CallAfter([this] {
            m_list->FitLastColumn();
            ShowTableFocus();
        });
    });
}

// Every column shows whole without scrolling sideways: the window grows to
// take them (as far as the screen allows), and that is its least size.
void CScaleDlg::WidenForColumns() {
    const int needed = m_list->ColumnsWidth() + wxSystemSettings::GetMetric(wxSYS_VSCROLL_X) +
                       (m_list->GetSize().x - m_list->GetClientSize().x);
    const int room = wxDisplay(this).GetClientArea().width - GetSize().x;
    const int extra = std::min(needed - m_list->GetSize().x, room);
    if (extra <= 0) return;
    m_list->SetMinSize(m_list->GetSize() + wxSize(extra, 0));
    GetSizer()->SetSizeHints(this);
    CentreOnScreen();
}

void CScaleDlg::KeepRoomForTexts() {
    // The check box is as wide as its words: the window's least size
    // follows them, and the window grows when it is smaller than that.
    m_typing->InvalidateBestSize();
    const wxSize least = ClientToWindowSize(GetSizer()->CalcMin());
    SetMinSize(least);
    wxSize size = GetSize();
    size.IncTo(least);
    if (size != GetSize()) SetSize(size);
    Layout();
}

}  // namespace tarvex
