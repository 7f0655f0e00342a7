#include "ScaleDlg.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/menu.h>
#include <wx/radiobut.h>

#include "AboutDlg.h"
#include "AppIcon.h"
#include "ControlIds.h"
#include "TableListCtrl.h"
#include "WeightText.h"

namespace tarvex {

CScaleDlg::CScaleDlg(const std::wstring& executablePath)
    : wxDialog(nullptr, IDD_SCALE_DIALOG, wxString(), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX),
      m_icon(AppIcon()),
      m_executablePath(executablePath),
      m_core(WeighingHosts{*this, *this, *this, *this}, m_texts) {
    BuildControls();
    BindCommands();
}

CScaleDlg::~CScaleDlg() = default;

void CScaleDlg::BindCommands() {
    Bind(wxEVT_INIT_DIALOG, &CScaleDlg::OnInitDialog, this);
    Bind(wxEVT_BUTTON, &CScaleDlg::OnOpenCloseConnection, this, IDC_OPEN_CLOSE);
    Bind(wxEVT_RADIOBUTTON, &CScaleDlg::OnUnitKg, this, IDC_UNIT_KG);
    Bind(wxEVT_RADIOBUTTON, &CScaleDlg::OnUnitLb, this, IDC_UNIT_LB);
    Bind(wxEVT_RADIOBUTTON, &CScaleDlg::OnUnitLbOz, this, IDC_UNIT_LBOZ);
    Bind(wxEVT_BUTTON, &CScaleDlg::OnClearData, this, IDC_CLEAR);
    Bind(wxEVT_BUTTON, &CScaleDlg::OnRefreshPorts, this, IDC_REFRESH);
    Bind(wxEVT_BUTTON, &CScaleDlg::OnBnClickedSaveTable, this, IDC_SAVE);
    Bind(wxEVT_CLOSE_WINDOW, &CScaleDlg::OnClose, this);
    Bind(wxEVT_BUTTON, &CScaleDlg::OnConfirmLanguage, this, IDC_CONFIRM_LANGUAGE);
    // GTK gives a dialog no system menu: the About entry lives in the
    // window's right-click menu and on F1.
    Bind(wxEVT_CONTEXT_MENU, &CScaleDlg::OnContextMenu, this);
    Bind(wxEVT_MENU, [this](wxCommandEvent& e) { OnSysCommand(e.GetId()); }, IDM_ABOUTBOX);
    Bind(wxEVT_CHAR_HOOK, &CScaleDlg::OnCharHook, this);
}

void CScaleDlg::OnInitDialog(wxInitDialogEvent&) {
    SyncUnitButtons();
    SetIcon(m_icon);
    InitLanguage();
    InitTableColumns();
    m_core.SetConnected(false);
    // The port list stays empty until the serial link can probe for ports.
    FillLanguageList();
}

void CScaleDlg::InitTableColumns() {
    m_list->InsertTableColumns();
    for (int i = 0; i < COLUMN_COUNT; ++i)
        m_list->SetHeaderText(i, Text(SECTION_HEADER, TABLE_COLUMNS[static_cast<size_t>(i)].headerKey));
    m_core.ResetStartTime();
}

void CScaleDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.ShowModal();
    }
}

void CScaleDlg::OnContextMenu(wxContextMenuEvent&) {
    wxMenu menu;
    menu.Append(IDM_ABOUTBOX, ABOUT_ENTRY_TEXT);
    PopupMenu(&menu);
}

void CScaleDlg::OnCharHook(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_F1)
        OnSysCommand(IDM_ABOUTBOX);
    else
        event.Skip();
}

void CScaleDlg::OnSerialData(const uint8_t* bytes, int count) { m_core.OnSerialData(bytes, count); }

void CScaleDlg::OnOpenCloseConnection(wxCommandEvent&) {
    // Without a port in the list there is nothing to open.
    ShowMessage(MSG_OK, L"No_Port");
}

void CScaleDlg::OnUnitKg(wxCommandEvent&) { m_core.SwitchUnit(UNIT_KG); }
void CScaleDlg::OnUnitLb(wxCommandEvent&) { m_core.SwitchUnit(UNIT_LB); }
void CScaleDlg::OnUnitLbOz(wxCommandEvent&) { m_core.SwitchUnit(UNIT_LBOZ); }

void CScaleDlg::SyncUnitButtons() {
    const int ids[] = {IDC_UNIT_KG, IDC_UNIT_LB, IDC_UNIT_LBOZ};
    static_cast<wxRadioButton*>(FindWindow(ids[m_core.Unit()]))->SetValue(true);
}

void CScaleDlg::OnClearData(wxCommandEvent&) { m_core.OnClearData(); }

void CScaleDlg::OnRefreshPorts(wxCommandEvent&) {}

void CScaleDlg::OnBnClickedSaveTable(wxCommandEvent&) { m_core.SaveTable(false); }

void CScaleDlg::OnClose(wxCloseEvent& event) {
    if (m_core.Table().RowCount() > 0 && event.CanVeto()) {
        m_msgBox.SetMessage(MSG_YESNO, Text(SECTION_MESSAGE, L"Close_Exe"), L"");
        if (m_msgBox.DoModal(this) == IDNO_ANSWER) {
            event.Veto();
            return;
        }
    }
    if (m_core.IsConnected()) SendCommand(CMD_STOP);
    EndDialog(wxID_CANCEL);
}

void CScaleDlg::ShowMessage(int kind, std::wstring_view key) {
    m_msgBox.SetMessage(kind, Text(SECTION_MESSAGE, key), L"");
    m_msgBox.DoModal(this);
}

std::wstring CScaleDlg::Text(std::wstring_view section, std::wstring_view key) const {
    return m_texts.Text(section, key);
}

void CScaleDlg::SendCommand(uint8_t) {}
void CScaleDlg::SignalReply() {}
void CScaleDlg::RequestStop() {}

void CScaleDlg::ApplyDisconnected() {
    FindWindow(IDC_OPEN_CLOSE)->SetLabel(Text(SECTION_CAPTION, L"Serial_Caption_Open"));
    m_core.SetConnected(false);
    for (int id : {IDC_PORT_GROUP, IDC_PORT_COMBO, IDC_REFRESH, IDC_LANGUAGE_GROUP,
                   IDC_LANGUAGE_COMBO, IDC_CONFIRM_LANGUAGE})
        FindWindow(id)->Enable();
}

void CScaleDlg::RestartLink() {}

int CScaleDlg::AskYesNo(const std::wstring& text) {
    m_msgBox.SetMessage(MSG_YESNO, text, L"");
    return m_msgBox.DoModal(this);
}

void CScaleDlg::ShowNoticeNoWait(const std::wstring& text) {
    m_msgBox.SetMessage(MSG_OK, text, L"");
    m_msgBox.ShowWithoutWaiting(this);
}

void CScaleDlg::RowAdded(int row) { m_list->ShowRowAdded(row); }
void CScaleDlg::RowsChanged() { m_list->ShowAllRows(); }

bool CScaleDlg::SaveTableToExcel(bool) { return false; }

}  // namespace tarvex
