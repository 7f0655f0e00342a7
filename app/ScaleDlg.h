#pragma once
// The main window: lays out the controls, shows what the session tells it
// and hands the user's clicks to the session.

#include <array>
#include <functional>
#include <string>
#include <vector>

#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/icon.h>
#include <wx/choice.h>
#include <wx/thread.h>
#include <wx/timer.h>
#include <wx/utils.h>

#include "app/MyMsg.h"
#include "session/Session.h"

class wxButton;
class wxCheckBox;
class wxRadioButton;
class wxStaticText;

namespace tarvex {

class CTableListCtrl;

struct ScaleDlgSetup : SessionSetup {
    // Stands in for the save dialog: returns the chosen path, empty for cancel.
    std::function<std::wstring(const std::wstring& initialName)> chooseSavePath;
};

class CScaleDlg : public wxDialog, private ISessionUi {
public:
    explicit CScaleDlg(ScaleDlgSetup setup);
    ~CScaleDlg() override;

    CSession& Session() { return m_session; }
    CMyMsg& MsgBox() { return m_msgBox; }
    bool PortReportShown() const { return m_portReport.NoticeShown(); }
    wxString PortReportText() const;
    CTableListCtrl& List() { return *m_list; }

    void OnSysCommand(int id);
#ifdef __WXMSW__
    // The About entry lives in the real system menu on Windows.
    WXLRESULT MSWWindowProc(WXUINT message, WXWPARAM wParam, WXLPARAM lParam) override;
#endif

private:
    // Layout (ScaleDlgLayout.cpp).
    void BuildControls();
    void WidenForColumns();
    void KeepRoomForTexts();

    void BindCommands();
    void OnInitDialog(wxInitDialogEvent& event);
    void OnConfirmLanguage(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnCharHook(wxKeyEvent& event);
    bool TableHasFocus() const;
    void ShowTableFocus();
    void FocusNextAfterTable(bool forward);
    // The About entry of the window's menu, in the language in use.
    void ShowAboutEntry();
    void UpdateStatus();
    void ShowPendingRows();
    int ShowText(int kind, const std::wstring& text);

    // ISessionUi
    int AskYesNo(const std::wstring& text) override;
    void ShowNoticeNoWait(const std::wstring& text) override;
    void HideNoticeNoWait() override { m_msgBox.HideNotice(); }
    void Tell(const std::wstring& text) override;
    void ShowPortReport(const std::wstring& text, const std::wstring& caption) override;
    void HidePortReport() override { m_portReport.HideNotice(); }
    SaveChoice AskSavePath(const std::wstring& initialName, const std::wstring& folder,
                           const std::wstring& extension) override;
    void ShowBusy(bool busy) override { busy ? wxBeginBusyCursor() : wxEndBusyCursor(); }
    std::vector<int> ColumnWidths() const override;
    void ShowPorts(const std::vector<std::wstring>& entries) override;
    int SelectedPortEntry() const override { return m_portCombo->GetSelection(); }
    int SelectedUnit() const override;
    void ShowLanguages(const std::vector<std::wstring>& names, int selected) override;
    void ShowTexts() override;
    void ShowLinkState(bool connected) override;
    void ShowStatus() override { UpdateStatus(); }
    // With the next display frame, as rows are.
    void ShowStatusSoon() override {
        if (!m_redrawTimer.IsRunning()) m_redrawTimer.StartOnce(REDRAW_INTERVAL_MS);
    }
    // Paint and size events only: no click or key gets in meanwhile.
    void KeepDrawing() override {
        if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) loop->YieldFor(wxEVT_CATEGORY_UI);
    }
    void ShowTypingChoice(bool available, bool on, const std::wstring& whyNot) override;
    void ShowScaleChoice(const std::vector<std::wstring>& names, int selected) override;
    void ShowScaleCommands(bool zero, bool tare, bool weigh) override;
    void ShowLiveWeight(const std::wstring& weight, const std::wstring& state) override;
    void RowAdded(int row) override;
    void RowsChanged() override;
    void Post(std::function<void()> work) override { CallAfter(std::move(work)); }
    bool OnUiThread() const override { return wxThread::IsMain(); }
    void StartTimer(SessionTimer timer, int milliseconds, bool repeat) override;
    void StopTimer(SessionTimer timer) override { m_timers[static_cast<size_t>(timer)].Stop(); }

    wxIcon m_icon;
    std::function<std::wstring(const std::wstring&)> m_chooseSavePath;
    CMyMsg m_msgBox;
    CMyMsg m_portReport;  // the driver's report, shown without waiting
    CSession m_session;
    wxButton* m_openClose = nullptr;
    std::array<wxRadioButton*, 3> m_units{};  // KG, LB, LB:OZ
    wxChoice* m_portCombo = nullptr;
    wxChoice* m_languageCombo = nullptr;
    CTableListCtrl* m_list = nullptr;
    wxStaticText* m_status = nullptr;
    wxCheckBox* m_typing = nullptr;
    wxChoice* m_scaleCombo = nullptr;
    wxButton* m_zero = nullptr;
    wxButton* m_tare = nullptr;
    wxButton* m_weigh = nullptr;
    wxStaticText* m_liveWeight = nullptr;
    wxStaticText* m_liveState = nullptr;
    int m_weighKey = 0;  // the key code that weighs; 0: none
    std::vector<wxWindow*> m_linkControls;  // changed only while no link is open
    std::array<wxTimer, SESSION_TIMERS> m_timers;
    // Rows that arrive faster than the screen refreshes are shown once a frame.
    wxTimer m_redrawTimer;
    static constexpr int REDRAW_INTERVAL_MS = 100;
    static constexpr int FOCUS_FRAME = 2;  // pixels
    wxWindow* m_tableFrame = nullptr;  // behind the table, shown round it while it has the keyboard
    int m_lastAddedRow = -1;
};

}  // namespace tarvex
