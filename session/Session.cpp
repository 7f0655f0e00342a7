#include "session/Session.h"

#include "session/DeskName.h"
#include "session/JournalOffer.h"
#include "session/UserFolders.h"
#include "text/BoxTexts.h"
#include "text/LanguageSettings.h"
#include "text/ProfileFile.h"
#include "text/TextCodec.h"
#include "weighing/WeightText.h"

namespace tarvex {

CSession::CSession(SessionSetup setup, ISessionUi& ui)
    : m_ui(ui),
      m_executablePath(std::move(setup.executablePath)),
      m_portsOverride(std::move(setup.ports)),
      m_exportTempFolder(std::move(setup.exportTempFolder)),
      m_userSettingFile(setup.userSettingFile.empty() ? UserSettingFile() : std::move(setup.userSettingFile)),
      m_userDataFolder(setup.userDataFolder.empty() ? UserDataFolder() : std::move(setup.userDataFolder)),
      m_documentsFolder(setup.documentsFolder.empty() ? UserDocumentsFolder() : std::move(setup.documentsFolder)),
      m_deskName(std::move(setup.deskName)),
      m_openKeyboard(std::move(setup.openKeyboard)),
      m_core(m_texts, {}, setup.limits),
      m_connection(m_serial, *this, m_link),
      m_journalOutput(m_journal, m_core),
      m_windowOutput(ui) {}

CSession::~CSession() {
    // The reader may be handing a burst over: end it while every member it
    // may reach still exists.
    m_serial.Shutdown();
}

void CSession::Start() {
    FindFiles();
    m_ui.ShowTexts();
    m_core.LanguageChanged();  // the marks in the language just found
    m_ui.RowsChanged();
    ApplyTestLimits();
    m_core.ResetStartTime();
    m_link.SetConnected(false);
    ShowLanguageList();
    // Told over a window that is whole, before the port notices.
    TellUnreadableFiles();
    ReadScaleChoice();
    ProbeAndShowPorts();
    if (m_deskName.empty()) m_deskName = SettingText(SECTION_FEED, KEY_DESK);
    OfferJournalRows({m_journal, m_journalOutput, m_core, m_texts, m_ui, m_userDataFolder, Utf8FromWide(m_deskName)});
    StartFeeds();
    StartTyping();
    TellReadableSecrets();
}

void CSession::StartFeeds() {
    FeedStart start{
        [this](std::wstring_view key) { return SettingText(SECTION_FEED, key); },
        m_settingFile,
        m_documentsFolder,
        m_texts,
        m_core.Table().Words().remarkPrefix,
        [this](uint64_t seq, size_t most) { return m_journal.ReadFrom(seq, most); },
        m_core.Desk(),
        m_core.LastSeq(),
        [this](std::function<void()> work) { m_ui.Post(std::move(work)); },
        [this] { m_ui.ShowStatus(); },
        m_journal.Path(),
    };
    start.databaseSetting = [this](std::wstring_view key) { return SettingText(L"Database", key); };
    for (const std::wstring& problem : m_feeds.Start(start)) m_ui.Tell(problem);
    for (IReadingOutput* output : m_feeds.Outputs()) AddOutput(*output);
    TellDeskState();
}

void CSession::StartTyping() {
    WedgeStart start{
        [this](std::wstring_view key) { return SettingText(SECTION_WEDGE, key); },
        m_settingFile,
        m_texts,
        [this](uint64_t seq, size_t most) { return m_journal.ReadFrom(seq, most); },
        [this](std::function<void()> work) { m_ui.Post(std::move(work)); },
        [this] { m_ui.ShowStatusSoon(); },  // a note with every weight typed
    };
    if (m_openKeyboard) start.openKeyboard = m_openKeyboard;
    for (const std::wstring& problem : m_wedge.Start(start)) m_ui.Tell(problem);
    AddOutput(m_wedge);
    ShowTypingChoice();
    TellDeskState();
    m_ui.ShowStatus();
}

void CSession::OnTypingSwitched(bool on) {
    const std::wstring problem = m_wedge.Enable(on);
    // Remembered where the language choice is; a box that could not be
    // ticked is remembered unticked.
    const bool enabled = m_wedge.Enabled();
    WriteWhereWritable(m_languageSettingFile, m_userSettingFile, [enabled](const std::wstring& file) {
        return WriteProfileText(file, SECTION_WEDGE, KEY_WEDGE_ENABLED, enabled ? L"1" : L"0");
    });
    ShowTypingChoice();
    m_ui.ShowStatus();
    if (!problem.empty()) m_ui.Tell(problem);
}

// ---- readings: one way, from the link through the core to the outputs

void CSession::OnSerialData(const uint8_t* bytes, int count) {
    if (count <= 0) return;
    if (m_liveScale) {
        OnScaleData(bytes, count);
        return;
    }
    if (!m_link.IsConnected()) {
        Apply(m_connection.OnReply(bytes[0] == FRAME_HANDSHAKE_REPLY));
        // The answer may have opened the link; what follows it in the same
        // burst is already the scale's first frame.
        if (!m_link.IsConnected()) return;
        ++bytes;
        --count;
    }
    // No question waits inside this loop while the link is open: a full
    // table ends the link before it saves, so no burst cuts frames anew
    // while these are judged.
    m_judging = true;
    for (const Frame& frame : m_link.Cut(bytes, count))
        if (!TakeFrame(frame)) break;
    m_judging = false;
    WatchLineQuiet(m_link.IsConnected() && m_link.Pending());
}

bool CSession::TakeFrame(Frame frame) {
    if (!m_link.IsConnected()) return false;
    const FrameVerdict verdict = m_core.JudgeFrame(frame.data(), static_cast<int>(frame.size()));
    if (verdict.askRepeat) SendCommand(CMD_REPEAT);
    if (verdict.row >= 0) ReadingAdded(verdict.row);
    if (verdict.nearlyFull) m_ui.ShowNoticeNoWait(Text(SECTION_MESSAGE, L"Data_Warning"));
    if (verdict.tableFull) HandleTableFull();
    // The full table ended the link: the rest waits.
    return m_link.IsConnected();
}

void CSession::ReadingAdded(int row) {
    const AddedReading added(m_core, row);
    // On disk, with its seq, before the scale hears that the reading arrived.
    if (m_journal.IsOpen()) m_journalOutput.ReadingAdded(added);
    // Only the frames' scale waits for its acknowledge.
    if (!m_liveScale) SendCommand(CMD_ACK);
    m_windowOutput.ReadingAdded(added);
    // Beyond the window goes only what the journal keeps: a seq no other
    // program has seen may be given again after a crash, one it has seen
    // never. Held back while the journal cannot be written, the readings
    // are fetched from it once it can.
    const bool kept = !m_journal.IsOpen() || !m_journal.HasFailed();
    if (!kept) {
        if (m_heldBackFrom == 0) m_heldBackFrom = added.Record().seq;
        return;
    }
    if (m_heldBackFrom != 0) {
        // This reading is among them: in the journal already.
        for (IReadingOutput* output : m_outputs) output->ReadingsHeldBack(m_heldBackFrom);
        m_heldBackFrom = 0;
        return;
    }
    for (IReadingOutput* output : m_outputs) output->ReadingAdded(added);
    TellDeskState();
}

void CSession::RowsCleared(const ClearedRows& cleared) {
    if (m_journal.IsOpen()) m_journalOutput.RowsCleared(cleared);
    m_windowOutput.RowsCleared(cleared);
    for (IReadingOutput* output : m_outputs) output->RowsCleared(cleared);
    TellDeskState();
}

void CSession::LinkStateChanged(bool connected) {
    m_windowOutput.LinkStateChanged(connected);
    for (IReadingOutput* output : m_outputs) output->LinkStateChanged(connected);
    TellDeskState();
}

void CSession::RemoveOutput(IReadingOutput& output) {
    std::erase(m_outputs, &output);
}

void CSession::SwitchUnit(int unit) {
    if (m_core.SwitchUnit(unit)) m_ui.RowsChanged();
    TellDeskState();
}

void CSession::ClearRows(int rowsSeen) {
    // Readings keep arriving while the question stands; only what the clerk
    // saw (or saved) goes.
    if (rowsSeen > 0 && m_ui.AskYesNo(Text(SECTION_MESSAGE, L"Clear_Data")) == ANSWER_YES) {
        const int cleared = m_core.ClearFirstRows(rowsSeen);
        RowsCleared({cleared, m_core.Table().RowCount() == 0, false});
        m_core.ResetStartTime();
    }
    if (m_core.IsTableFull()) {
        // A full table whose automatic save failed is emptied all the same,
        // and the notice that it is full goes with its rows.
        m_ui.HideNoticeNoWait();
        EmptyFullTable();
    }
}

void CSession::HandleTableFull() {
    // Told while the save runs; the save's word on how it went replaces it.
    m_ui.ShowNoticeNoWait(Text(SECTION_MESSAGE, L"Data_Error"));
    SendStopAndEnd();
    ApplyDisconnected();
    int rowsSaved = 0;
    m_fullTableSaved = SaveTableToExcel(SaveMode::Automatic, rowsSaved);
    // Every row is in the workbook and the table must be emptied to go on:
    // nothing to ask.
    if (m_fullTableSaved) EmptyFullTable();
}

void CSession::EmptyFullTable() {
    const int rows = m_core.Table().RowCount();
    m_core.EmptyTable();
    // Its rows stay in a copy of the journal unless a workbook holds them.
    RowsCleared({rows, true, rows > 0 && !m_fullTableSaved});
    m_core.ResetStartTime();
    // The reader is waiting for the burst being handled now; open the port
    // again only once that hand-off has returned.
    m_ui.Post([this] { Apply(m_connection.RestartAfterFullTable(m_ui.SelectedPortEntry())); });
}

}  // namespace tarvex
