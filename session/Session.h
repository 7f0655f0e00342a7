#pragma once
// One run of the program, without the toolkit: the port and the link to the
// scale, the weighing core and its journal, the files the texts and settings
// come from, saving, the full table and the journal offer at start-up. The
// window lays out and shows what it is told through ISessionUi, and hands
// the user's clicks to the functions below.

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "session/ConnectionControl.h"
#include "outputs/FeedOutputs.h"
#include "session/JournalOutput.h"
#include "outputs/WedgeOutput.h"
#include "session/WindowOutput.h"
#include "weighing/FrameLink.h"
#include "weighing/LiveScale.h"
#include "weighing/ScaleSettings.h"
#include "journal/Journal.h"
#include "serial/PortMap.h"
#include "serial/SerialOwner.h"
#include "serial/SerialPort.h"
#include "session/SessionUi.h"
#include "text/TextLookup.h"
#include "weighing/WeighingCore.h"
#include "weighing/WeightText.h"
#include "export/WorkbookExport.h"

namespace tarvex {

// How often a scale's waits (the weigh key's, a zero's) are looked at
// between its answers; a settling weight has a timer of its own.
constexpr int SCALE_TICK_MS = 100;
// The clock of a scale's live weights, in milliseconds.
int64_t ScaleClockMs();

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
    std::wstring deskName;  // empty: from "Setting.ini", else the computer's name
    // The keyboard typing goes to; empty: the desktop's.
    std::function<std::unique_ptr<IKeyboard>(KeyboardAbsence&)> openKeyboard;
};

class CSession : private ISerialOwner {
public:
    CSession(SessionSetup setup, ISessionUi& ui);
    ~CSession() override;
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    // Texts, limits, languages, ports and the rows an earlier run left.
    void Start();

    // The window's buttons.
    void OnOpenCloseConnection();
    void OnRefreshPorts();
    void OnUnitKg() { SwitchUnit(UNIT_KG); }
    void OnUnitLb() { SwitchUnit(UNIT_LB); }
    void OnUnitLbOz() { SwitchUnit(UNIT_LBOZ); }
    // Asks, then clears the rows the table held when it asked; readings
    // that arrived behind the question stay.
    void OnClearData() { ClearRows(m_core.Table().RowCount()); }
    // The save dialog, then the clear question for the rows saved.
    void OnSaveTable();
    // False when there is no such line (nothing changes).
    bool OnConfirmLanguage(int line);
    // The check box "Type weights into the program in front".
    void OnTypingSwitched(bool on);
    // The scale list (in the order of ScaleProtocolKind) while no link is
    // open, and the scale's commands.
    void OnScaleChosen(int index);
    void OnZero() { SendScaleCommand(ScaleCommand::Zero); }
    void OnTare() { SendScaleCommand(ScaleCommand::Tare); }
    void OnWeigh();
    // Tries each protocol on the chosen port, in an order that never sends a
    // scale a byte that changes it; connects with the first that answers.
    void OnFindProtocol();
    bool FindingProtocol() const { return m_finding.has_value(); }
    // A scale other than the frames': its live weight; null for the frames.
    const CLiveScale* LiveScale() const { return m_liveScale.get(); }
    const ScaleSettings& ScaleChoice() const { return m_scaleSettings; }
    // The user closes the window: true when it may close (only Yes does
    // while rows are in the table and the close may be refused); an open
    // link is ended first.
    bool Close(bool mayRefuse);
    void OnTimer(SessionTimer timer);

    // The reader's hand-off of one burst; runs on the window's thread.
    void OnSerialData(const uint8_t* bytes, int count) override;

    // Every reading, clear and link change from now on, after the journal
    // and the window, in the order added; the output outlives the session's
    // use of it (RemoveOutput).
    void AddOutput(IReadingOutput& output) { m_outputs.push_back(&output); }
    void RemoveOutput(IReadingOutput& output);
    // Readings of this desk from seq on, at most most, from the journal.
    std::vector<RowRecord> ReadingsFrom(uint64_t seq, size_t most) const { return m_journal.ReadFrom(seq, most); }
    // Readings from seq on stay in the journal for an output that has not
    // confirmed them.
    void KeepReadingsFrom(uint64_t seq) { m_journal.KeepFrom(seq); }
    const std::string& Desk() const { return m_core.Desk(); }

    // The link's state and port, the readings and their sum.
    std::wstring StatusText() const;
    DeskState State() const;
    const CFeedOutputs& Feeds() const { return m_feeds; }
    const CWedgeOutput& Wedge() const { return m_wedge; }
    std::wstring Text(std::wstring_view section, std::wstring_view key) const { return m_texts.Text(section, key); }

    bool IsConnected() const { return m_link.IsConnected(); }
    // What the window reads: the table it shows and the unit chosen.
    const CMeasurementTable& Table() const { return m_core.Table(); }
    int Unit() const { return m_core.Unit(); }
    // Ends the reader's hand-offs while the window that takes them still exists.
    void EndHandOffs() { m_serial.Shutdown(); }

    // The parts themselves, for tests that look inside.
    CFrameLink& Link() { return m_link; }
    const CFrameLink& Link() const { return m_link; }
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
    // The file a setting is read from: the user's own where it has the key.
    const std::wstring& SettingFileOf(std::wstring_view section, std::wstring_view key) const;
    // A token or a database password in a file other users may read: told once.
    void TellReadableSecrets();
    void ShowLanguageList();
    void TellUnreadableFiles();
    // Tells the clerk when the file gives no texts; true when it was told.
    bool TellIfUnreadable(const std::wstring& file, std::wstring_view key);
    bool ProbeAndShowPorts();
    // When a mapped device exists that this user may not open, says so and
    // how to fix it instead of the given "no port" message.
    void ShowMissingPorts(std::wstring_view key);

    // The scale's settings, at start and when the clerk picks another.
    void ReadScaleChoice();
    void UseScale();
    // A USB scale's link: its reports, as its descriptor lays them out.
    void UseUsbScale(const HidScaleDevice& scale);
    // The USB scale the port list's chosen line stands for; null for a COM port.
    const HidScaleDevice* ChosenUsbScale() const;
    // Says why a chosen USB scale cannot be opened; false when it can.
    bool TellUsbScaleRefused();
    // The list, the commands and the live weight, in the language in use.
    void ShowScale();
    void ShowScaleCommands();
    void OnScaleData(const uint8_t* bytes, int count);
    void TakeScaleNews(const LiveNews& news);
    void ShowLiveWeight();
    void SendScaleCommand(ScaleCommand command);
    void SetScaleNote(std::wstring_view key, std::wstring_view why = {});
    void TryNextProtocol();
    void FoundProtocol();
    void RememberProtocol();

    // One frame cut from an open link; false when the link ended with it.
    bool TakeFrame(Frame frame);
    void WatchLineQuiet(bool open);
    // Journal, acknowledge, window and outputs, in that order.
    void ReadingAdded(int row);
    void RowsCleared(const ClearedRows& cleared);
    void LinkStateChanged(bool connected);
    // The outputs hear what the status line shows now.
    void TellDeskState();
    void StartFeeds();
    void StartTyping();
    void ShowTypingChoice() { m_ui.ShowTypingChoice(m_wedge.Available(), m_wedge.Enabled(), m_wedge.WhyUnavailable()); }
    void SwitchUnit(int unit);
    void ClearRows(int rowsSeen);
    // Stops the link, saves, empties and starts again.
    void HandleTableFull();
    void EmptyFullTable();
    void Apply(const ConnectionVerdict& verdict);
    void ApplyConnected();
    void ApplyDisconnected();
    void SendCommand(uint8_t command) { m_serial.RequestWrite(&command, 1); }
    void SendBytes(const std::string& bytes) {
        m_serial.RequestWrite(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
    }
    void SendStopAndEnd();
    void ShowNotice(std::wstring_view messageKey) { m_ui.Tell(Text(SECTION_MESSAGE, messageKey)); }
    // The clerk's save asks where; the full table's goes by itself under a
    // stamped name.
    enum class SaveMode { Asked, Automatic };
    // Runs the export; true when the file was written, with the number of
    // rows it holds (rows arriving during the save may follow them).
    bool SaveTableToExcel(SaveMode mode, int& rowsSaved);

    // The save dialog and the replace question; empty when the user gave up.
    std::wstring AskSavePath(const std::wstring& initialName);
    std::wstring SaveDialogFolder() const;
    // Writes what the table shows now into a workbook at the path.
    ExportResult WriteTable(const std::wstring& path);

    // ISerialOwner: the driver's hand-off, on the window's thread.
    void PostToOwner(std::function<void()> work) override { m_ui.Post(std::move(work)); }
    bool OnOwnerThread() const override { return m_ui.OnUiThread(); }
    void ShowPortError(const std::wstring& text, const std::wstring& caption) override;
    void OnPortRemoved(unsigned portNumber) override;
    void OnPortUnreached(unsigned portNumber) override;
    void OnLineSettingsKept(unsigned portNumber, const std::wstring& settings) override;

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
    std::wstring m_deskName;
    std::function<std::unique_ptr<IKeyboard>(KeyboardAbsence&)> m_openKeyboard;
    CTextLookup m_texts;  // reads from m_languageFile
    CSerialPort m_serial;
    CJournal m_journal;
    CWeighingCore m_core;
    CFrameLink m_link;
    CConnectionControl m_connection;
    CJournalOutput m_journalOutput;
    CWindowOutput m_windowOutput;
    std::vector<IReadingOutput*> m_outputs;  // after the window, in the order added
    CFeedOutputs m_feeds;
    CWedgeOutput m_wedge;
    ScaleSettings m_scaleSettings;
    std::unique_ptr<CLiveScale> m_liveScale;  // null for the frames
    std::wstring m_scaleNote;                 // what the scale's last command came to
    mutable std::set<std::wstring> m_toldTooLong;  // settings too long to use, told once
    std::optional<size_t> m_finding;          // the protocol being tried, in FIND_ORDER
    uint64_t m_heldBackFrom = 0;             // the first reading the journal could not keep
    bool m_judging = false;        // a frame is being judged (it may ask questions)
    bool m_fullTableSaved = false; // every row of the full table is in a workbook
    // The last save that worked, told in the status line.
    int m_savedRows = -1;
    // What a network port's device server keeps other than asked, and that port.
    std::wstring m_settingsKept;
    unsigned m_settingsKeptPort = 0;
    std::wstring m_savedPath;
    std::wstring m_saveExtension = L".xls";  // of the last workbook the clerk saved
};

}  // namespace tarvex
