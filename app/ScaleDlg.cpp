#include "ScaleDlg.h"

#include <algorithm>

#include <cwchar>

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/thread.h>
#ifdef __WXMSW__
#include <wx/msw/wrapwin.h>
#endif

#include "AboutDlg.h"
#include "BoxTexts.h"
#include "AppIcon.h"
#include "CellTexts.h"
#include "LanguageSettings.h"
#include "UserFolders.h"
#include "ProfileFile.h"
#include "ControlIds.h"
#include "JournalOffer.h"
#include "SerialPlatform.h"
#include "TableListCtrl.h"
#include "TextCodec.h"
#include "WeightText.h"

namespace tarvex {

CScaleDlg::CScaleDlg(ScaleDlgSetup setup)
    : wxDialog(nullptr, IDD_SCALE_DIALOG, wxString(), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX | wxMAXIMIZE_BOX | wxRESIZE_BORDER),
      m_icon(AppIcon()),
      m_executablePath(std::move(setup.executablePath)),
      m_portsOverride(std::move(setup.ports)),
      m_exportTempFolder(std::move(setup.exportTempFolder)),
      m_chooseSavePath(std::move(setup.chooseSavePath)),
      m_userSettingFile(setup.userSettingFile.empty() ? UserSettingFile() : std::move(setup.userSettingFile)),
      m_userDataFolder(setup.userDataFolder.empty() ? UserDataFolder() : std::move(setup.userDataFolder)),
      m_documentsFolder(setup.documentsFolder.empty() ? UserDocumentsFolder() : std::move(setup.documentsFolder)),
      m_core(WeighingHosts{*this, *this, *this, *this}, m_texts, {}, setup.limits),
      m_connection(m_serial, *this, m_core, *this),
      m_attemptTimer(this, ID_ATTEMPT_TIMER),
      m_watchTimer(this, ID_WATCH_TIMER),
      m_redrawTimer(this, ID_REDRAW_TIMER),
      m_quietTimer(this, ID_QUIET_TIMER) {
    BuildControls();
    BindCommands();
    // Placed now, so boxes shown during start-up centre on it.
    CentreOnScreen();
}

CScaleDlg::~CScaleDlg() {
    // The reader may be handing a burst to this window: end it while every
    // member it may reach still exists.
    m_serial.Shutdown();
}

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
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { m_connection.OnAttemptTimer(); }, ID_ATTEMPT_TIMER);
    Bind(wxEVT_TIMER, &CScaleDlg::OnRedrawTimer, this, ID_REDRAW_TIMER);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { m_connection.OnWatchTimer(); }, ID_WATCH_TIMER);
    Bind(wxEVT_TIMER, &CScaleDlg::OnQuietTimer, this, ID_QUIET_TIMER);
}

void CScaleDlg::OnInitDialog(wxInitDialogEvent&) {
    SyncUnitButtons();
    SetIcon(m_icon);
    AddAboutToSystemMenu();
    InitLanguage();
    ApplyTestLimits();
    InitTableColumns();
    m_core.SetConnected(false);
    FillLanguageList();
    // Told over a window that is whole, before the port notices.
    TellUnreadableFiles();
    ProbeAndFillPorts();
    OfferJournalRows({m_journal, m_core, m_texts, *this, m_userDataFolder});
}

void CScaleDlg::ApplyTestLimits() {
    // Section "Test" of "Setting.ini" (never in the shipped file) lets the
    // end-to-end tests reach the nearly-full and full table in a few rows.
    const std::wstring warning = SettingText(L"Test", L"Warning_Row");
    const std::wstring full = SettingText(L"Test", L"Full_Row");
    if (warning.empty() && full.empty()) return;
    const auto limit = [](const std::wstring& text, int shipped) {
        const long value = std::wcstol(text.c_str(), nullptr, 10);
        return value > 0 && value <= shipped ? static_cast<int>(value) : shipped;
    };
    m_core.SetRowLimits({limit(warning, TABLE_WARNING_ROW), limit(full, TABLE_FULL_ROW)});
}

std::wstring CScaleDlg::SettingText(std::wstring_view section, std::wstring_view key) const {
    // The user's own "Setting.ini" first, where it has the key.
    if (!m_userSettingFile.empty() && ProfileHasKey(m_userSettingFile, section, key))
        return ReadProfileText(m_userSettingFile, section, key);
    return ReadProfileText(m_settingFile, section, key);
}

void CScaleDlg::InitTableColumns() {
    m_list->InsertTableColumns();
    WidenForColumns();
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

#ifdef __WXMSW__
WXLRESULT CScaleDlg::MSWWindowProc(WXUINT message, WXWPARAM wParam, WXLPARAM lParam) {
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == IDM_ABOUTBOX) {
        OnSysCommand(static_cast<int>(wParam));
        return 0;
    }
    return wxDialog::MSWWindowProc(message, wParam, lParam);
}

void CScaleDlg::AddAboutToSystemMenu() {
    HMENU menu = ::GetSystemMenu(static_cast<HWND>(GetHWND()), FALSE);
    if (!menu) return;
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, ABOUT_ENTRY_TEXT);
}
#else
void CScaleDlg::AddAboutToSystemMenu() {}
#endif

void CScaleDlg::OnContextMenu(wxContextMenuEvent&) {
    wxMenu menu;
    menu.Append(IDM_ABOUTBOX, ABOUT_ENTRY_TEXT);
    PopupMenu(&menu);
}

void CScaleDlg::OnCharHook(wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    if (key == WXK_F1) {
        OnSysCommand(IDM_ABOUTBOX);
    } else if (key == WXK_F5 && event.GetModifiers() == wxMOD_NONE) {
        // Refresh only while its button may be pressed (not while connected).
        if (FindWindow(IDC_REFRESH)->IsEnabled()) {
            wxCommandEvent refresh;
            OnRefreshPorts(refresh);
        }
    } else if (key == 'S' && event.GetModifiers() == wxMOD_CONTROL) {
        m_core.SaveTable(false);
    } else {
        event.Skip();
    }
}

void CScaleDlg::OnSerialData(const uint8_t* bytes, int count) { m_core.OnSerialData(bytes, count); }

void CScaleDlg::OnOpenCloseConnection(wxCommandEvent&) { m_connection.OnOpenCloseConnection(); }

void CScaleDlg::OnUnitKg(wxCommandEvent&) { m_core.SwitchUnit(UNIT_KG); }

void CScaleDlg::OnUnitLb(wxCommandEvent&) { m_core.SwitchUnit(UNIT_LB); }
void CScaleDlg::OnUnitLbOz(wxCommandEvent&) { m_core.SwitchUnit(UNIT_LBOZ); }

void CScaleDlg::SyncUnitButtons() {
    const int ids[] = {IDC_UNIT_KG, IDC_UNIT_LB, IDC_UNIT_LBOZ};
    static_cast<wxRadioButton*>(FindWindow(ids[m_core.Unit()]))->SetValue(true);
}

void CScaleDlg::OnClearData(wxCommandEvent&) { m_core.OnClearData(); }

void CScaleDlg::OnRefreshPorts(wxCommandEvent&) {
    // A refresh would rewrite the port table that a running attempt walks.
    if (m_connection.AttemptRunning()) return;
    m_connection.StopWatching();
    m_portCombo->SetSelection(wxNOT_FOUND);
    m_portCombo->Clear();
    ProbeAndFillPorts();
}

bool CScaleDlg::ProbeAndFillPorts() {
    // Read again each time: the user may have plugged in or mapped a port.
    m_serial.SetPortMap(m_portsOverride ? *m_portsOverride : CPortMap::FromSettings(m_settingFile, m_userSettingFile));
    if (!m_serial.ProbePorts()) {
        ShowMissingPorts(L"Serial_Port_Abnormal");
        return false;
    }
    FillPortList();
    return true;
}

void CScaleDlg::FillPortList() {
    m_portCombo->Append(L"自动检索");
    const auto& table = m_serial.PortTable();
    for (int k = 1; k <= table[0]; ++k) m_portCombo->Append(wxString::Format(L"COM%d", table[static_cast<size_t>(k)]));
    m_portCombo->SetSelection(0);
}


void CScaleDlg::OnClose(wxCloseEvent& event) {
    if (m_core.Table().RowCount() > 0 && event.CanVeto()) {
        m_msgBox.SetMessage(MSG_YESNO, Text(SECTION_MESSAGE, L"Close_Exe"), L"");
        // Only Yes closes: Escape and the close box mean "don't" here as on
        // every desktop, and the question guards readings not yet saved.
        if (m_msgBox.DoModal(this) != IDYES_ANSWER) {
            event.Veto();
            return;
        }
    }
    if (m_core.IsConnected()) {
        // The reader sends the stop byte after every acknowledge already
        // asked for, then ends; it never waits for this thread meanwhile.
        SendStopAndEnd();
        m_serial.WaitForFinish(FINISH_WAIT_MS);
    }
    EndDialog(wxID_CANCEL);
}

void CScaleDlg::ShowMessage(int kind, std::wstring_view key) { ShowText(kind, Text(SECTION_MESSAGE, key)); }

void CScaleDlg::Tell(const std::wstring& text) { ShowText(MSG_OK, text); }

int CScaleDlg::ShowText(int kind, const std::wstring& text) {
    m_msgBox.SetMessage(kind, text, L"");
    return m_msgBox.DoModal(this);
}

std::wstring CScaleDlg::Text(std::wstring_view section, std::wstring_view key) const {
    return m_texts.Text(section, key);
}

void CScaleDlg::SendCommand(uint8_t command) { m_serial.RequestWrite(&command, 1); }
void CScaleDlg::SignalReply() { m_connection.OnReply(); }
void CScaleDlg::OnQuietTimer(wxTimerEvent&) {
    // The timer runs on this thread's clock; bytes the reader has not handed
    // over yet (a busy machine) mean the line was not quiet after all.
    if (!m_serial.LineQuietFor(LINE_QUIET_MS)) {
        m_quietTimer.StartOnce(LINE_QUIET_MS);
        return;
    }
    m_core.OnLineQuiet();
}

void CScaleDlg::WatchLineQuiet(bool open) {
    if (open)
        m_quietTimer.StartOnce(LINE_QUIET_MS);
    else if (m_quietTimer.IsRunning())
        m_quietTimer.Stop();
}
void CScaleDlg::SendStopAndEnd() {
    const uint8_t stop = CMD_STOP;
    m_serial.RequestSendThenStop(&stop, 1);
}

void CScaleDlg::ApplyConnected() {
    m_portReport.HideNotice();  // whatever it reported is over
    FindWindow(IDC_OPEN_CLOSE)->SetLabel(Text(SECTION_CAPTION, L"Serial_Caption_Close"));
    m_core.SetConnected(true);
    EnableLinkControls(false);
    UpdateStatus();
}

void CScaleDlg::ApplyDisconnected() {
    FindWindow(IDC_OPEN_CLOSE)->SetLabel(Text(SECTION_CAPTION, L"Serial_Caption_Open"));
    m_core.SetConnected(false);
    EnableLinkControls(true);
    // The last rows are on screen before the user can act on the ended link.
    ShowPendingRows();
}

void CScaleDlg::EnableLinkControls(bool enable) {
    for (int id : {IDC_PORT_GROUP, IDC_PORT_COMBO, IDC_REFRESH, IDC_LANGUAGE_GROUP,
                   IDC_LANGUAGE_COMBO, IDC_CONFIRM_LANGUAGE})
        FindWindow(id)->Enable(enable);
}

void CScaleDlg::RestartLink() {
    // The reader is waiting for the burst being handled now; open the port
    // again only once that hand-off has returned.
    CallAfter([this] { m_connection.RestartAfterFullTable(); });
}

void CScaleDlg::PostToOwner(std::function<void()> work) { CallAfter(std::move(work)); }
bool CScaleDlg::OnOwnerThread() const { return wxThread::IsMain(); }

void CScaleDlg::ShowPortError(const std::wstring& text, const std::wstring& caption) {
    // One report at a time: ten pulls of an adapter are one trouble, and the
    // report goes by itself once the link is back.
    if (m_portReport.NoticeShown()) return;
    m_portReport.SetLanguageFile(m_languageFile);
    m_portReport.SetMessage(MSG_OK, text, caption);
    m_portReport.ShowWithoutWaiting(this);
}

wxString CScaleDlg::PortReportText() const {
    const CMyMsgDialog* box = m_portReport.NoticeWindow();
    return box ? box->FindWindow(ID_MSG_TEXT)->GetLabel() : wxString();
}

void CScaleDlg::OnPortRemoved(unsigned portNumber) {
    // The rows stay, and the link comes back by itself with the device.
    m_connection.OnPortRemoved();
    if (!m_core.IsConnected()) return;
    ApplyDisconnected();
    m_connection.StartWatching(static_cast<int>(portNumber));
    UpdateStatus();
}

int CScaleDlg::SelectedPortEntry() const { return m_portCombo->GetSelection(); }

void CScaleDlg::RefreshUnitFromButtons() {
    const int ids[] = {IDC_UNIT_KG, IDC_UNIT_LB, IDC_UNIT_LBOZ};
    for (int unit = 0; unit < 3; ++unit)
        if (static_cast<wxRadioButton*>(FindWindow(ids[unit]))->GetValue()) m_core.SwitchUnit(unit);
}

void CScaleDlg::ShowNotice(std::wstring_view messageKey) { ShowMessage(MSG_OK, messageKey); }

void CScaleDlg::ShowNoPort() { ShowMissingPorts(L"No_Port"); }

void CScaleDlg::ShowMissingPorts(std::wstring_view key) {
    const std::string& device = m_serial.RefusedDevice();
    if (device.empty()) {
        ShowMessage(MSG_OK, key);
        return;
    }
    ShowText(MSG_OK, MessageText(m_texts, L"Port_No_Permission",
                                 {{L"{device}", WideFromUtf8(device)}, {L"{group}", WideFromUtf8(platform::OwningGroup(device))}}));
}

void CScaleDlg::StartAttemptTimer(int milliseconds) {
    m_attemptTimer.StartOnce(milliseconds);
    UpdateStatus();
}

void CScaleDlg::SetWatchTimer(bool running) {
    if (running)
        m_watchTimer.Start(WATCH_INTERVAL_MS);
    else
        m_watchTimer.Stop();
    UpdateStatus();
}

void CScaleDlg::StopAttemptTimer() {
    m_attemptTimer.Stop();
    // The attempt is over but its verdict not yet applied: shown by whatever
    // the verdict changes next, or by the next row.
    CallAfter([this] { UpdateStatus(); });
}

int CScaleDlg::AskYesNo(const std::wstring& text) {
    ShowPendingRows();  // a question is about the table as it is now
    return ShowText(MSG_YESNO, text);
}

void CScaleDlg::ShowNoticeNoWait(const std::wstring& text) {
    ShowPendingRows();
    m_msgBox.SetMessage(MSG_OK, text, L"");
    m_msgBox.ShowWithoutWaiting(this);
}

void CScaleDlg::RowAdded(int row) {
    // Shown with the next display frame: a burst of rows costs one redraw.
    m_lastAddedRow = row;
    if (!m_redrawTimer.IsRunning()) m_redrawTimer.StartOnce(REDRAW_INTERVAL_MS);
}

void CScaleDlg::OnRedrawTimer(wxTimerEvent&) { ShowPendingRows(); }

void CScaleDlg::ShowPendingRows() {
    m_redrawTimer.Stop();
    if (m_lastAddedRow >= 0 && m_lastAddedRow < m_core.Table().RowCount()) m_list->ShowRowAdded(m_lastAddedRow);
    m_lastAddedRow = -1;
    UpdateStatus();
}

void CScaleDlg::RowsChanged() {
    m_redrawTimer.Stop();
    m_lastAddedRow = -1;
    m_list->ShowAllRows();
    UpdateStatus();
}

void CScaleDlg::UpdateStatus() {
    if (!m_status) return;
    std::wstring link;
    const std::wstring port = L"COM" + std::to_wstring(m_serial.PortNumber());
    if (m_core.IsConnected())
        link = Text(SECTION_STATUS, L"Status_Connected");
    else if (m_connection.AttemptRunning())
        link = Text(SECTION_STATUS, L"Status_Connecting");
    else if (m_connection.Watching())
        link = Text(SECTION_STATUS, L"Status_Watching");
    else
        link = Text(SECTION_STATUS, L"Status_Not_Connected");
    ReplaceAll(link, L"{port}", port);
    const std::wstring readings = m_texts.Counted(SECTION_STATUS, L"Status_Readings", m_core.Table().RowCount());
    std::wstring sum = Text(SECTION_STATUS, L"Status_Sum");
    ReplaceAll(sum, L"{sum}", m_core.WeightSumText());
    ReplaceAll(sum, L"{unit}", std::wstring(UnitName(m_core.Unit())));
    const wxString text = link + L"    " + readings + L"    " + sum;
    if (m_status->GetLabel() != text) m_status->SetLabel(text);
}


}  // namespace tarvex
