#pragma once
// One run of the program, without the toolkit: the port and the link to the
// scale, the weighing core and its journal, the files the texts and settings
// come from, saving, the full table and the journal offer at start-up. The
// window lays out and shows what it is told through ISessionUi, and hands
// the user's clicks to the functions below.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "session/ConnectionControl.h"
#include "weighing/FrameLink.h"
#include "outputs/Journal.h"
#include "serial/PortMap.h"
#include "serial/SerialOwner.h"
#include "serial/SerialPort.h"
#include "session/SessionUi.h"
#include "localisation/TextLookup.h"
#include "weighing/WeighingCore.h"
#include "weighing/WeightText.h"
#include "export/WorkbookExport.h"

namespace tarvex {

// What a test may set instead of the running program's own.
struct SessionSetup {
    std::wstring executablePath;    // where "Language/" and "Setting.ini" are found from
    std::optional<CPortMap> ports;  // empty: from "Setting.ini"
    RowLimits limits;
    std::string exportTempFolder;   // empty: the system's
    // The user's own places; empty: the real ones (see UserFolders.h).
    std::filesystem::path userDataFolder;
    std::wstring userSettingFile;
    std::filesystem::path documentsFolder;
};

class CSession : private IScaleLink, private IFrameLinkHost, private ITableSaver, private ISerialOwner,
                 private IConnectionUi {
public:
    CSession(SessionSetup setup, ISessionUi& ui);
    ~CSession() override;
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    // Texts, limits, languages, ports and the rows an earlier run left.
    void Start();

    // The window's buttons.
    void OnOpenCloseConnection() { m_connection.OnOpenCloseConnection(); }
    void OnRefreshPorts();
    void OnUnitKg() { m_core.SwitchUnit(UNIT_KG); }
    void OnUnitLb() { m_core.SwitchUnit(UNIT_LB); }
    void OnUnitLbOz() { m_core.SwitchUnit(UNIT_LBOZ); }
    void OnClearData() { m_core.OnClearData(); }
    void OnBnClickedSaveTable() { m_core.SaveTable(false); }
    // False when there is no such line (nothing changes).
    bool OnConfirmLanguage(int line);
    // The user closes the window: true when it may close (only Yes does
    // while rows are in the table and the close may be refused); an open
    // link is ended first.
    bool Close(bool mayRefuse);
    void OnTimer(SessionTimer timer);

    // The reader's hand-off of one burst; runs on the window's thread.
    void OnSerialData(const uint8_t* bytes, int count) override { m_link.OnSerialData(bytes, count); }

    // The link's state and port, the readings and their sum.
    std::wstring StatusText() const;
    std::wstring Text(std::wstring_view section, std::wstring_view key) const { return m_texts.Text(section, key); }

    bool IsConnected() const { return m_link.IsConnected(); }
    CFrameLink& Link() { return m_link; }
    CWeighingCore& Core() { return m_core; }
    const CWeighingCore& Core() const { return m_core; }
    CSerialPort& Serial() { return m_serial; }
    const CConnectionControl& Connection() const { return m_connection; }
    const CJournal& Journal() const { return m_journal; }
    const std::wstring& LanguageFile() const { return m_languageFile; }
    const std::wstring& SettingFile() const { return m_settingFile; }
    const std::wstring& LanguageSettingFile() const { return m_languageSettingFile; }

private:
    void FindFiles();
    void ApplyTestLimits();
    std::wstring SettingText(std::wstring_view section, std::wstring_view key) const;
    void ShowLanguageList();
    void TellUnreadableFiles();
    // Tells the clerk when the file gives no texts; true when it was told.
    bool TellIfUnreadable(const std::wstring& file, std::wstring_view key);
    bool ProbeAndShowPorts();
    // When a mapped device exists that this user may not open, says so and
    // how to fix it instead of the given "no port" message.
    void ShowMissingPorts(std::wstring_view key);

    // The save dialog and the replace question; empty when the user gave up.
    std::wstring AskSavePath(const std::wstring& initialName);
    std::wstring SaveDialogFolder() const;
    // Writes what the table shows now into a workbook at the path.
    ExportResult WriteTable(const std::wstring& path);

    // IScaleLink
    void SendCommand(uint8_t command) override { m_serial.RequestWrite(&command, 1); }
    void SendStopAndEnd() override;
    void ApplyDisconnected() override;
    void RestartLink() override;
    // IFrameLinkHost: the link judges the answer to its greeting.
    void AnswerArrived(uint8_t firstByte) override { m_connection.OnReply(firstByte); }
    void WatchLineQuiet(bool open) override;
    // ITableSaver
    bool SaveTableToExcel(bool bAuto, int& rowsSaved) override;
    // ISerialOwner
    void PostToOwner(std::function<void()> work) override { m_ui.Post(std::move(work)); }
    bool OnOwnerThread() const override { return m_ui.OnUiThread(); }
    void ShowPortError(const std::wstring& text, const std::wstring& caption) override;
    void OnPortRemoved(unsigned portNumber) override;
    // IConnectionUi
    int SelectedPortEntry() const override { return m_ui.SelectedPortEntry(); }
    void RefreshUnitFromButtons() override { m_core.SwitchUnit(m_ui.SelectedUnit()); }
    void ApplyConnected() override;
    void ShowNotice(std::wstring_view messageKey) override { m_ui.Tell(Text(SECTION_MESSAGE, messageKey)); }
    void ShowNoPort() override { ShowMissingPorts(L"No_Port"); }
    void StartAttemptTimer(int milliseconds) override;
    void StopAttemptTimer() override;
    void SetWatchTimer(bool running) override;

    ISessionUi& m_ui;
    std::wstring m_executablePath;
    std::optional<CPortMap> m_portsOverride;
    std::string m_exportTempFolder;
    std::wstring m_appDir;       // the executable's folder
    std::wstring m_resourceDir;  // where "Language/" and the default "Setting.ini" are
    std::wstring m_settingFile;
    std::wstring m_userSettingFile;
    std::wstring m_languageSettingFile;  // where the language choice is kept
    std::wstring m_languageFile;
    std::vector<std::wstring> m_languageFiles;
    std::filesystem::path m_userDataFolder;
    std::filesystem::path m_documentsFolder;
    CTextLookup m_texts;  // reads from m_languageFile
    CSerialPort m_serial;
    CJournal m_journal;
    CWeighingCore m_core;
    CFrameLink m_link;
    CConnectionControl m_connection;
    // The last save that worked, told in the status line.
    int m_savedRows = -1;
    std::wstring m_savedPath;
};

}  // namespace tarvex
