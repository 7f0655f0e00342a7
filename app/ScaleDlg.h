#pragma once
// The main window: owns every piece of the program's state for the whole run
// and routes each event to the core objects.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <wx/dialog.h>
#include <wx/icon.h>
#include <wx/timer.h>

#include "ConnectionControl.h"
#include "Journal.h"
#include "MyMsg.h"
#include "PortMap.h"
#include "SerialOwner.h"
#include "SerialPort.h"
#include "SessionUi.h"
#include "TextLookup.h"
#include "WeighingCore.h"
#include "WorkbookExport.h"

class wxChoice;
class wxStaticText;

namespace tarvex {

class CTableListCtrl;

// What a test may set instead of the running program's own: the program's
// folder (from the executable's path), the port table and the row limits.
struct ScaleDlgSetup {
    std::wstring executablePath;       // empty: the running program
    std::optional<CPortMap> ports;     // empty: from "Setting.ini"
    RowLimits limits;
    std::string exportTempFolder;      // empty: the system's
    // Stands in for the save dialog: returns the chosen path, empty for cancel.
    std::function<std::wstring(const std::wstring& initialName)> chooseSavePath;
    // The user's own places; empty: the real ones (see UserFolders.h).
    std::filesystem::path userDataFolder;
    std::wstring userSettingFile;
    std::filesystem::path documentsFolder;
};

class CScaleDlg : public wxDialog,
                  private IScaleLink,
                  private ISessionUi,
                  private ITableView,
                  private ITableSaver,
                  private ISerialOwner,
                  private IConnectionUi {
public:
    explicit CScaleDlg(ScaleDlgSetup setup = {});
    ~CScaleDlg() override;

    // The reader's hand-off of one burst; runs on the window thread.
    void OnSerialData(const uint8_t* bytes, int count) override;

    CWeighingCore& Core() { return m_core; }
    CSerialPort& Serial() { return m_serial; }
    bool AttemptRunning() const { return m_connection.AttemptRunning(); }
    bool WatchingForDevice() const { return m_connection.Watching(); }
    CMyMsg& MsgBox() { return m_msgBox; }
    bool PortReportShown() const { return m_portReport.NoticeShown(); }
    wxString PortReportText() const;
    CTableListCtrl& List() { return *m_list; }
    const std::wstring& LanguageFileInUse() const { return m_languageFile; }
    const std::wstring& SettingFile() const { return m_settingFile; }
    const std::wstring& LanguageSettingFileInUse() const { return m_languageSettingFile; }
    const CJournal& Journal() const { return m_journal; }

    void OnSysCommand(int id);
#ifdef __WXMSW__
    // The About entry lives in the real system menu on Windows.
    WXLRESULT MSWWindowProc(WXUINT message, WXWPARAM wParam, WXLPARAM lParam) override;
#endif

private:
    void BuildControls();
    void BindCommands();
    void FitUnitButtons();
    void MakeRoomBelowLists();
    void WidenLists();
    void AddStatusLine();
    void RememberLayout();
    void OnSize(wxSizeEvent& event);
    void WidenForColumns();
    void UpdateStatus();
    void OnRedrawTimer(wxTimerEvent& event);
    void ShowPendingRows();

    void OnInitDialog(wxInitDialogEvent& event);
    void InitLanguage();
    void ApplyLanguageTexts();
    void FillLanguageList();
    void TellUnreadableFiles();
    // Tells the clerk when the file gives no texts; true when it was told.
    bool TellIfUnreadable(const std::wstring& file, std::wstring_view key);
    void ApplyTestLimits();
    std::wstring SettingText(std::wstring_view section, std::wstring_view key) const;
    void InitTableColumns();
    bool ProbeAndFillPorts();
    void FillPortList();

    void OnOpenCloseConnection(wxCommandEvent& event);
    void OnUnitKg(wxCommandEvent& event);
    void OnUnitLb(wxCommandEvent& event);
    void OnUnitLbOz(wxCommandEvent& event);
    void OnClearData(wxCommandEvent& event);
    void OnRefreshPorts(wxCommandEvent& event);
    void OnBnClickedSaveTable(wxCommandEvent& event);
    void OnConfirmLanguage(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnContextMenu(wxContextMenuEvent& event);
    void AddAboutToSystemMenu();
    void OnCharHook(wxKeyEvent& event);

    void SyncUnitButtons();
    void ShowMessage(int kind, std::wstring_view key);
    int ShowText(int kind, const std::wstring& text);
    std::wstring Text(std::wstring_view section, std::wstring_view key) const;

    // IScaleLink
    void SendCommand(uint8_t command) override;
    void SignalReply() override;
    void WatchLineQuiet(bool open) override;
    void OnQuietTimer(wxTimerEvent& event);
    void SendStopAndEnd() override;
    void ApplyDisconnected() override;
    void RestartLink() override;
    // ISessionUi
    int AskYesNo(const std::wstring& text) override;
    void ShowNoticeNoWait(const std::wstring& text) override;
    void Tell(const std::wstring& text) override;
    // ITableView
    void RowAdded(int row) override;
    void RowsChanged() override;
    // ITableSaver
    bool SaveTableToExcel(bool bAuto, int& rowsSaved) override;
    // The save dialog; empty when the user gave up.
    std::wstring AskSavePath(const std::wstring& initialName);
    std::wstring SaveDialogFolder() const;
    // Writes what the table shows now into a workbook at the path.
    ExportResult WriteTable(const std::wstring& path);
    void ShowSaveFailed(const std::wstring& path, const std::wstring& reason);
    // ISerialOwner
    void PostToOwner(std::function<void()> work) override;
    bool OnOwnerThread() const override;
    void ShowPortError(const std::wstring& text, const std::wstring& caption) override;
    void OnPortRemoved(unsigned portNumber) override;
    // IConnectionUi
    int SelectedPortEntry() const override;
    void RefreshUnitFromButtons() override;
    void ApplyConnected() override;
    void ShowNotice(std::wstring_view messageKey) override;
    void ShowNoPort() override;
    // When a mapped device exists that this user may not open, says so and
    // how to fix it instead of the given "no port" message.
    void ShowMissingPorts(std::wstring_view key);
    void StartAttemptTimer(int milliseconds) override;
    void StopAttemptTimer() override;
    void SetWatchTimer(bool running) override;
    void EnableLinkControls(bool enable);

    wxIcon m_icon;
    std::wstring m_executablePath;
    std::optional<CPortMap> m_portsOverride;
    std::string m_exportTempFolder;
    std::function<std::wstring(const std::wstring&)> m_chooseSavePath;
    CSerialPort m_serial;
    wxChoice* m_portCombo = nullptr;
    CTableListCtrl* m_list = nullptr;
    std::wstring m_languageFile;
    std::vector<std::wstring> m_languageFiles;
    std::wstring m_settingFile;
    std::wstring m_userSettingFile;
    std::wstring m_languageSettingFile;  // where the language choice is kept
    std::filesystem::path m_userDataFolder;
    std::filesystem::path m_documentsFolder;
    std::wstring m_appDir;       // the executable's folder
    std::wstring m_resourceDir;  // where "Language/" and the default "Setting.ini" are
    wxChoice* m_languageCombo = nullptr;
    CTextLookup m_texts;  // reads from m_languageFile
    CMyMsg m_msgBox;
    CMyMsg m_portReport;  // the driver's report, shown without waiting
    CJournal m_journal;
    CWeighingCore m_core;
    CConnectionControl m_connection;
    wxTimer m_attemptTimer;
    wxTimer m_watchTimer;
    // Rows that arrive faster than the screen refreshes are shown once a frame.
    wxTimer m_redrawTimer;
    static constexpr int REDRAW_INTERVAL_MS = 100;
    wxTimer m_quietTimer;  // an unfinished frame waits for the line to fall quiet
    int m_lastAddedRow = -1;
    wxStaticText* m_status = nullptr;
    wxSize m_baseClient, m_baseList;
    std::vector<std::pair<wxWindow*, wxPoint>> m_basePositions;
};

}  // namespace tarvex
