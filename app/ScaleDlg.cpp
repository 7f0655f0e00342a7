#include "app/ScaleDlg.h"

#include <algorithm>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#ifdef __WXMSW__
#include <wx/msw/wrapwin.h>
#endif

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/ControlIds.h"
#include "app/TableListCtrl.h"
#include "app/WorkbookSaveDialog.h"

namespace tarvex {

CScaleDlg::CScaleDlg(ScaleDlgSetup setup)
    : wxDialog(nullptr, IDD_SCALE_DIALOG, wxString(), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX | wxMAXIMIZE_BOX | wxRESIZE_BORDER),
      m_icon(AppIcon()),
      m_chooseSavePath(std::move(setup.chooseSavePath)),
      m_session(std::move(setup), *this),
      m_redrawTimer(this, ID_REDRAW_TIMER) {
    for (int i = 0; i < SESSION_TIMERS; ++i) m_timers[static_cast<size_t>(i)].SetOwner(this, ID_SESSION_TIMER + i);
    BuildControls();
    BindCommands();
    // Placed now, so boxes shown during start-up centre on it.
    CentreOnScreen();
}

CScaleDlg::~CScaleDlg() {
    // The reader may be handing a burst to this window: end it while the
    // window still exists.
    m_session.EndHandOffs();
}

void CScaleDlg::BindCommands() {
    Bind(wxEVT_INIT_DIALOG, &CScaleDlg::OnInitDialog, this);
    const auto onButton = [this](int id, std::function<void()> action) {
        Bind(wxEVT_BUTTON, [action](wxCommandEvent&) { action(); }, id);
    };
    onButton(IDC_OPEN_CLOSE, [this] { m_session.OnOpenCloseConnection(); });
    onButton(IDC_CLEAR, [this] { m_session.OnClearData(); });
    onButton(IDC_REFRESH, [this] { m_session.OnRefreshPorts(); });
    onButton(IDC_SAVE, [this] { m_session.OnSaveTable(); });
    Bind(wxEVT_BUTTON, &CScaleDlg::OnConfirmLanguage, this, IDC_CONFIRM_LANGUAGE);
    onButton(IDC_ZERO, [this] { m_session.OnZero(); });
    onButton(IDC_TARE, [this] { m_session.OnTare(); });
    onButton(IDC_WEIGH, [this] { m_session.OnWeigh(); });
    onButton(IDC_FIND_PROTOCOL, [this] { m_session.OnFindProtocol(); });
    m_scaleCombo->Bind(wxEVT_CHOICE, [this](wxCommandEvent& event) { m_session.OnScaleChosen(event.GetSelection()); });
    m_typing->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& event) { m_session.OnTypingSwitched(event.IsChecked()); });
    m_units[0]->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { m_session.OnUnitKg(); });
    m_units[1]->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { m_session.OnUnitLb(); });
    m_units[2]->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { m_session.OnUnitLbOz(); });
    Bind(wxEVT_CLOSE_WINDOW, &CScaleDlg::OnClose, this);
    // GTK gives a dialog no system menu: the About entry lives in the
    // window's right-click menu and on F1.
    Bind(wxEVT_CONTEXT_MENU, [this](wxContextMenuEvent&) {
        wxMenu menu;
        menu.Append(IDM_ABOUTBOX, m_session.Text(SECTION_CAPTION, L"About_Entry"));
        PopupMenu(&menu);
    });
    Bind(wxEVT_MENU, [this](wxCommandEvent& e) { OnSysCommand(e.GetId()); }, IDM_ABOUTBOX);
    Bind(wxEVT_CHAR_HOOK, &CScaleDlg::OnCharHook, this);
    // The table shows no focus of its own until it has a current row: a
    // frame round it says where the keyboard is.
    std::vector<wxWindow*> table{m_list};
    for (wxWindow* inner : m_list->GetChildren()) table.push_back(inner);
    for (wxWindow* part : table) {
        for (const auto type : {wxEVT_SET_FOCUS, wxEVT_KILL_FOCUS}) {
            part->Bind(type, [this](wxFocusEvent& event) {
                event.Skip();
                CallAfter([this] { ShowTableFocus(); });  // once the focus has moved
            });
        }
    }
    for (int i = 0; i < SESSION_TIMERS; ++i)
        Bind(wxEVT_TIMER, [this, i](wxTimerEvent&) { m_session.OnTimer(static_cast<SessionTimer>(i)); }, ID_SESSION_TIMER + i);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { ShowPendingRows(); }, ID_REDRAW_TIMER);
}

void CScaleDlg::OnInitDialog(wxInitDialogEvent&) {
    m_units[static_cast<size_t>(m_session.Unit())]->SetValue(true);
    SetIcon(m_icon);
    m_list->InsertTableColumns();
    WidenForColumns();
    // The keyboard starts where the window's order does.
    m_openClose->SetFocus();
    m_session.Start();
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

void CScaleDlg::ShowAboutEntry() {
    HMENU menu = ::GetSystemMenu(static_cast<HWND>(GetHWND()), FALSE);
    if (!menu) return;
    const std::wstring text = m_session.Text(SECTION_CAPTION, L"About_Entry");
    if (::GetMenuState(menu, IDM_ABOUTBOX, MF_BYCOMMAND) == static_cast<UINT>(-1)) {
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text.c_str());
    } else {
        ::ModifyMenuW(menu, IDM_ABOUTBOX, MF_BYCOMMAND | MF_STRING, IDM_ABOUTBOX, text.c_str());
    }
}
#else
void CScaleDlg::ShowAboutEntry() {}  // the right-click menu is made when shown
#endif

void CScaleDlg::ShowTableFocus() {
    const bool focused = TableHasFocus();
    if (focused) m_tableFrame->SetSize(m_list->GetRect().Inflate(FOCUS_FRAME));
    m_tableFrame->Show(focused);
}

bool CScaleDlg::TableHasFocus() const {
    for (const wxWindow* w = wxWindow::FindFocus(); w; w = w->GetParent())
        if (w == m_list) return true;
    return false;
}

void CScaleDlg::FocusNextAfterTable(bool forward) {
    // The window's order is the order its controls were made in; a unit
    // group is one stop, its chosen unit.
    const wxWindowList& children = GetChildren();
    std::vector<wxWindow*> order(children.begin(), children.end());
    if (!forward) std::reverse(order.begin(), order.end());
    auto at = std::find(order.begin(), order.end(), m_list);
    for (size_t step = 1; step < order.size(); ++step) {
        wxWindow* next = *(order.begin() + static_cast<long>((static_cast<size_t>(at - order.begin()) + step) % order.size()));
        auto* unit = dynamic_cast<wxRadioButton*>(next);
        if (unit && !unit->GetValue()) continue;
        if (next->IsShown() && next->IsEnabled() && next->AcceptsFocusFromKeyboard()) {
            next->SetFocus();
            return;
        }
    }
}

void CScaleDlg::OnCharHook(wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    if (key == WXK_F1) {
        OnSysCommand(IDM_ABOUTBOX);
    } else if (key == WXK_F5 && event.GetModifiers() == wxMOD_NONE) {
        // Refresh only while its button may be pressed (not while connected).
        if (FindWindow(IDC_REFRESH)->IsEnabled()) m_session.OnRefreshPorts();
    } else if (m_weighKey != 0 && key == m_weighKey && event.GetModifiers() == wxMOD_NONE) {
        if (m_weigh->IsEnabled()) m_session.OnWeigh();
    } else if (key == 'S' && event.GetModifiers() == wxMOD_CONTROL) {
        m_session.OnSaveTable();
    } else if (key == WXK_TAB && TableHasFocus()) {
        // The table's inner window wants every key, Tab too: move on from
        // the table as from any other control.
        FocusNextAfterTable(!event.ShiftDown());
    } else {
        event.Skip();
    }
}

void CScaleDlg::OnConfirmLanguage(wxCommandEvent&) {
    // No line to confirm: the framework's own error, nothing changes.
    if (!m_session.OnConfirmLanguage(m_languageCombo->GetSelection()))
        wxMessageBox(L"Encountered an improper argument.", L"Tarvex Scale", wxOK | wxICON_ERROR, this);
}

void CScaleDlg::OnClose(wxCloseEvent& event) {
    if (!m_session.Close(event.CanVeto())) {
        event.Veto();
        return;
    }
    EndDialog(wxID_CANCEL);
}

void CScaleDlg::ShowTexts() {
    const auto text = [this](std::wstring_view section, std::wstring_view key) { return m_session.Text(section, key); };
    SetTitle(text(SECTION_CAPTION, L"Dialog_Caption"));
    static constexpr std::pair<int, const wchar_t*> kCaptions[] = {
        {IDC_OPEN_CLOSE, L"Serial_Caption_Open"}, {IDC_SAVE, L"Save_Excel"},
        {IDC_CLEAR, L"Clear_Data"},               {IDC_UNIT_GROUP, L"Change_Unit_Caption"},
        {IDC_PORT_GROUP, L"Serial_Caption_Port"}, {IDC_REFRESH, L"Serial_Refresh"},
        {IDC_LANGUAGE_GROUP, L"Language_Caption"}, {IDC_CONFIRM_LANGUAGE, L"Language_OK"},
        {IDC_TYPING, L"Wedge_Caption"},          {IDC_SCALE_LABEL, L"Scale_Caption"},
        {IDC_ZERO, L"Zero_Caption"},              {IDC_TARE, L"Tare_Caption"},
        {IDC_WEIGH, L"Weigh_Caption"},            {IDC_FIND_PROTOCOL, L"Find_Protocol_Caption"},
    };
    for (const auto& [id, key] : kCaptions) FindWindow(id)->SetLabel(text(SECTION_CAPTION, key));
    KeepRoomForTexts();
    for (int i = 0; i < m_list->GetColumnCount(); ++i)
        m_list->SetHeaderText(i, text(SECTION_HEADER, TABLE_COLUMNS[static_cast<size_t>(i)].headerKey));
    ShowAboutEntry();
    m_msgBox.SetLanguageFile(m_session.LanguageFile());
    UpdateStatus();  // the status line speaks the new language at once
}

void CScaleDlg::ShowTypingChoice(bool available, bool on, const std::wstring& whyNot) {
    m_typing->SetValue(on);
    m_typing->Enable(available);
    if (whyNot.empty())
        m_typing->UnsetToolTip();
    else
        m_typing->SetToolTip(whyNot);
}

void CScaleDlg::ShowScaleChoice(const std::vector<std::wstring>& names, int selected) {
    m_scaleCombo->Clear();
    for (const std::wstring& name : names) m_scaleCombo->Append(name);
    m_scaleCombo->SetSelection(selected);
    // "F8" and the like; any other text weighs with no key.
    const std::wstring& key = m_session.ScaleChoice().weighKey;
    const long n = key.size() > 1 && (key[0] == L'F' || key[0] == L'f') ? std::wcstol(key.c_str() + 1, nullptr, 10) : 0;
    m_weighKey = n >= 1 && n <= 24 ? WXK_F1 + static_cast<int>(n) - 1 : 0;
    KeepRoomForTexts();
}

void CScaleDlg::ShowScaleCommands(bool zero, bool tare, bool weigh) {
    m_zero->Enable(zero);
    m_tare->Enable(tare);
    m_weigh->Enable(weigh);
}

void CScaleDlg::ShowLiveWeight(const std::wstring& weight, const std::wstring& state) {
    if (m_liveWeight->GetLabel() != weight) m_liveWeight->SetLabel(weight);
    if (m_liveState->GetLabel() != state) {
        m_liveState->SetLabel(state);
        // The window grows when the words need it ("over capacity", "超出量程").
        m_liveState->InvalidateBestSize();
        KeepRoomForTexts();
    }
}

void CScaleDlg::ShowLanguages(const std::vector<std::wstring>& names, int selected) {
    m_languageCombo->Clear();
    for (const std::wstring& name : names) m_languageCombo->Append(name);
    m_languageCombo->SetSelection(selected);
}

void CScaleDlg::ShowPorts(const std::vector<std::wstring>& entries) {
    m_portCombo->SetSelection(wxNOT_FOUND);
    m_portCombo->Clear();
    for (const std::wstring& entry : entries) m_portCombo->Append(entry);
    if (!entries.empty()) m_portCombo->SetSelection(0);
    // A USB scale's name is longer than "COM29": the list grows to show it whole.
    m_portCombo->InvalidateBestSize();
    m_portCombo->SetMinSize(wxSize(std::max(m_portCombo->GetMinSize().x, m_portCombo->GetBestSize().x), -1));
    if (GetSizer()) KeepRoomForTexts();
}

int CScaleDlg::SelectedUnit() const {
    for (int unit = 0; unit < 3; ++unit)
        if (m_units[static_cast<size_t>(unit)]->GetValue()) return unit;
    return m_session.Unit();
}

void CScaleDlg::ShowLinkState(bool connected) {
    m_openClose->SetLabel(m_session.Text(SECTION_CAPTION, connected ? L"Serial_Caption_Close" : L"Serial_Caption_Open"));
    // A control about to be disabled gives the keyboard to the open button,
    // so the window's keys (the weigh key among them) still reach it.
    const wxWindow* focused = wxWindow::FindFocus();
    if (connected && std::find(m_linkControls.begin(), m_linkControls.end(), focused) != m_linkControls.end())
        m_openClose->SetFocus();
    for (wxWindow* control : m_linkControls) control->Enable(!connected);
    // The last rows are on screen before the user can act on the ended link.
    ShowPendingRows();
}

SaveChoice CScaleDlg::AskSavePath(const std::wstring& initialName, const std::wstring& folder,
                                 const std::wstring& extension) {
    if (m_chooseSavePath) return SaveChoice(m_chooseSavePath(initialName));
    return AskWorkbookPath(this, m_session.Text(SECTION_CAPTION, L"Save_Dialog_Title"), folder, initialName, extension);
}

std::vector<int> CScaleDlg::ColumnWidths() const {
    std::vector<int> widths;
    for (int i = 0; i < m_list->GetColumnCount(); ++i) widths.push_back(m_list->GetColumnWidth(i));
    return widths;
}

void CScaleDlg::ShowPortReport(const std::wstring& text, const std::wstring& caption) {
    // One report at a time: ten pulls of an adapter are one trouble.
    if (m_portReport.NoticeShown()) return;
    m_portReport.SetLanguageFile(m_session.LanguageFile());
    m_portReport.SetMessage(MSG_OK, text, caption);
    m_portReport.ShowWithoutWaiting(this);
}

wxString CScaleDlg::PortReportText() const {
    const CMyMsgDialog* box = m_portReport.NoticeWindow();
    return box ? box->FindWindow(ID_MSG_TEXT)->GetLabel() : wxString();
}

int CScaleDlg::ShowText(int kind, const std::wstring& text) {
    ShowPendingRows();  // a box is about the table as it is now
    m_msgBox.SetMessage(kind, text, L"");
    return m_msgBox.DoModal(this);
}

int CScaleDlg::AskYesNo(const std::wstring& text) { return ShowText(MSG_YESNO, text); }

void CScaleDlg::Tell(const std::wstring& text) { ShowText(MSG_OK, text); }

void CScaleDlg::ShowNoticeNoWait(const std::wstring& text) {
    ShowPendingRows();
    m_msgBox.SetMessage(MSG_OK, text, L"");
    m_msgBox.ShowWithoutWaiting(this);
}

void CScaleDlg::StartTimer(SessionTimer timer, int milliseconds, bool repeat) {
    m_timers[static_cast<size_t>(timer)].Start(milliseconds, repeat ? wxTIMER_CONTINUOUS : wxTIMER_ONE_SHOT);
}

void CScaleDlg::RowAdded(int row) {
    // Shown with the next display frame: a burst of rows costs one redraw.
    m_lastAddedRow = row;
    if (!m_redrawTimer.IsRunning()) m_redrawTimer.StartOnce(REDRAW_INTERVAL_MS);
}

void CScaleDlg::ShowPendingRows() {
    m_redrawTimer.Stop();
    if (m_lastAddedRow >= 0 && m_lastAddedRow < m_session.Table().RowCount()) m_list->ShowRowAdded(m_lastAddedRow);
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
    const wxString text = m_session.StatusText();
    if (m_status->GetLabel() == text) return;
    m_status->SetLabel(text);
    // A line too long for the window is cut at its end; hovering shows it whole.
    m_status->SetToolTip(text);
}

}  // namespace tarvex
