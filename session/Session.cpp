#include "session/Session.h"

#include <ctime>

#include "text/BoxTexts.h"
#include "session/JournalOffer.h"
#include "text/LanguageSettings.h"
#include "text/ProfileFile.h"
#include "serial/SerialPlatform.h"
#include "export/TableCells.h"
#include "text/TextCodec.h"
#include "session/UserFolders.h"
#include "session/DeskName.h"
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
    ProbeAndShowPorts();
    if (m_deskName.empty()) m_deskName = SettingText(SECTION_FEED, KEY_DESK);
    OfferJournalRows({m_journal, m_journalOutput, m_core, m_texts, m_ui, m_userDataFolder, Utf8FromWide(m_deskName)});
    StartFeeds();
    StartTyping();
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

// ---- files, languages and settings

void CSession::FindFiles() {
    m_appDir = AppDirOf(m_executablePath);
    m_resourceDir = ResourceDirFor(m_appDir);
    m_settingFile = SettingFileIn(m_resourceDir);
    m_languageSettingFile = tarvex::LanguageSettingFile(m_settingFile, m_userSettingFile);
    m_languageFile = LanguageFileFromSettings(m_resourceDir, m_languageSettingFile);
    m_texts.SetLanguageFile(m_languageFile);
}

void CSession::ApplyTestLimits() {
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

std::wstring CSession::SettingText(std::wstring_view section, std::wstring_view key) const {
    // The user's own "Setting.ini" first, where it has the key.
    if (!m_userSettingFile.empty() && ProfileHasKey(m_userSettingFile, section, key))
        return ReadProfileText(m_userSettingFile, section, key);
    return ReadProfileText(m_settingFile, section, key);
}

void CSession::ShowLanguageList() {
    m_languageFiles = ListLanguageEntries(m_resourceDir);
    if (m_languageFiles.empty()) return;
    std::wstring remembered = ReadProfileText(m_languageSettingFile, SECTION_LANGUAGE, KEY_LANGUAGE_NAME);
    std::wstring ignored;
    // Texts of a file that cannot be read are shown in English: the list says so.
    if (CheckTextFile(m_languageFile, SECTION_LANGUAGE, KEY_LANGUAGE_NAME, ignored) != FileTrouble::None)
        remembered = L"English";
    std::vector<std::wstring> names, shown;
    for (const std::wstring& file : m_languageFiles) {
        names.push_back(ReadProfileText(file, SECTION_LANGUAGE, KEY_LANGUAGE_NAME));
        if (CheckTextFile(file, SECTION_LANGUAGE, KEY_LANGUAGE_NAME, ignored) == FileTrouble::None) {
            shown.push_back(names.back());
        } else {
            // Listed all the same, marked, so the clerk sees what is wrong.
            std::wstring marked = Text(SECTION_MESSAGE, L"Language_Unusable");
            ReplaceAll(marked, L"{name}", WideFromPath(PathFromWide(file).filename()));
            shown.push_back(marked);
        }
    }
    m_ui.ShowLanguages(shown, RememberedLanguageLine(names, remembered));
}

void CSession::TellUnreadableFiles() {
    // Once, at start: the first file that gives no texts.
    if (!TellIfUnreadable(m_languageSettingFile, KEY_LANGUAGE_FILE)) TellIfUnreadable(m_languageFile, KEY_LANGUAGE_NAME);
}

bool CSession::TellIfUnreadable(const std::wstring& file, std::wstring_view key) {
    std::wstring reason;
    switch (CheckTextFile(file, SECTION_LANGUAGE, key, reason)) {
        case FileTrouble::None:
            return false;
        case FileTrouble::CannotOpen:
            break;
        case FileTrouble::TooLarge:
            reason = Text(SECTION_MESSAGE, L"Reason_Too_Large");
            break;
        case FileTrouble::NoTexts:
            reason = Text(SECTION_MESSAGE, L"Reason_No_Texts");
            break;
    }
    m_ui.Tell(MessageText(m_texts, L"File_Unreadable", {{L"{file}", file}, {L"{reason}", reason}}));
    return true;
}

bool CSession::OnConfirmLanguage(int line) {
    if (line < 0 || line >= static_cast<int>(m_languageFiles.size())) return false;
    // A file that gives no texts is not taken: the clerk is told why.
    if (TellIfUnreadable(m_languageFiles[static_cast<size_t>(line)], KEY_LANGUAGE_NAME)) return true;
    m_languageFile = m_languageFiles[static_cast<size_t>(line)];
    // A "Setting.ini" the program may not write hands the choice over to
    // the user's own; nothing is reported, the language changes anyway.
    const std::wstring kept = RememberLanguageWhereWritable(m_languageSettingFile, m_userSettingFile, m_languageFile);
    if (!kept.empty()) m_languageSettingFile = kept;
    m_texts.SetLanguageFile(m_languageFile);
    m_ui.ShowTexts();
    m_core.LanguageChanged();
    m_ui.RowsChanged();
    m_feeds.LanguageChanged(m_texts, m_core.Table().Words().remarkPrefix);
    ShowTypingChoice();  // its tooltip in the new language
    return true;
}

std::wstring CSession::StatusText() const {
    std::wstring link;
    if (m_link.IsConnected())
        link = Text(SECTION_STATUS, L"Status_Connected");
    else if (m_connection.AttemptRunning())
        link = Text(SECTION_STATUS, L"Status_Connecting");
    else if (m_connection.Watching())
        link = Text(SECTION_STATUS, L"Status_Watching");
    else
        link = Text(SECTION_STATUS, L"Status_Not_Connected");
    ReplaceAll(link, L"{port}", m_serial.PortLabel(m_serial.PortNumber()));
    const std::wstring readings = m_texts.Counted(SECTION_STATUS, L"Status_Readings", m_core.Table().RowCount());
    std::wstring sum = Text(SECTION_STATUS, L"Status_Sum");
    ReplaceAll(sum, L"{sum}", m_core.WeightSumText());
    ReplaceAll(sum, L"{unit}", std::wstring(UnitName(m_core.Unit())));
    std::wstring status = link + L"    " + readings + L"    " + sum;
    if (m_savedRows >= 0)
        status += L"    " + Filled(m_texts.Counted(SECTION_STATUS, L"Status_Saved", m_savedRows), {{L"{file}", m_savedPath}});
    if (!m_settingsKept.empty() && m_settingsKeptPort == m_serial.PortNumber())
        status += L"    " + Filled(Text(SECTION_STATUS, L"Status_Server_Keeps"), {{L"{settings}", m_settingsKept}});
    if (!m_feeds.StatusNote().empty()) status += L"    " + m_feeds.StatusNote();
    if (const std::wstring typing = m_wedge.StatusNote(); !typing.empty()) status += L"    " + typing;
    return status;
}

DeskState CSession::State() const {
    DeskState state;
    state.desk = m_core.Desk();
    state.link = m_link.IsConnected()              ? LinkState::Connected
                 : m_connection.AttemptRunning() ? LinkState::Connecting
                 : m_connection.Watching()       ? LinkState::Waiting
                                                 : LinkState::Closed;
    state.port = L"COM" + std::to_wstring(m_serial.PortNumber());
    state.unit = m_core.Unit();
    state.readings = m_core.Table().RowCount();
    state.lastSeq = m_core.LastSeq();
    return state;
}

void CSession::TellDeskState() {
    if (m_outputs.empty()) return;
    // What an output has yet to take stays in the journal meanwhile.
    m_journal.KeepFrom(m_feeds.UnconfirmedFrom());
    const DeskState state = State();
    for (IReadingOutput* output : m_outputs) output->DeskStateChanged(state);
}

// ---- readings: one way, from the link through the core to the outputs

void CSession::OnSerialData(const uint8_t* bytes, int count) {
    if (count <= 0) return;
    if (!m_link.IsConnected()) {
        Apply(m_connection.OnReply(bytes[0]));
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
    SendCommand(CMD_ACK);
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

void CSession::OnBnClickedSaveTable() {
    int rowsSaved = 0;
    if (!SaveTableToExcel(false, rowsSaved)) return;
    if (rowsSaved == m_core.Table().RowCount()) m_fullTableSaved = true;
    ClearRows(rowsSaved);
}

void CSession::HandleTableFull() {
    // Told while the save runs; the save's word on how it went replaces it.
    m_ui.ShowNoticeNoWait(Text(SECTION_MESSAGE, L"Data_Error"));
    SendStopAndEnd();
    ApplyDisconnected();
    int rowsSaved = 0;
    m_fullTableSaved = SaveTableToExcel(true, rowsSaved);
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

// ---- ports and the link

void CSession::OnOpenCloseConnection() {
    if (!m_link.IsConnected() && !m_connection.AttemptRunning()) SwitchUnit(m_ui.SelectedUnit());
    Apply(m_connection.OnOpenCloseConnection(m_ui.SelectedPortEntry()));
}

void CSession::Apply(const ConnectionVerdict& verdict) {
    if (verdict.portOpened) m_core.ResetStartTime();
    if (verdict.attemptEnded) {
        m_ui.StopTimer(SessionTimer::Attempt);
        // The attempt is over but its verdict not yet shown: by whatever
        // the verdict changes next, or by the next row.
        m_ui.Post([this] { m_ui.ShowStatus(); });
    }
    if (verdict.watch) {
        if (*verdict.watch)
            m_ui.StartTimer(SessionTimer::Watch, WATCH_INTERVAL_MS, true);
        else
            m_ui.StopTimer(SessionTimer::Watch);
        m_ui.ShowStatus();
    }
    if (verdict.attemptWaitMs > 0) {
        m_ui.StartTimer(SessionTimer::Attempt, verdict.attemptWaitMs, false);
        m_ui.ShowStatus();
    }
    if (verdict.linkUp) ApplyConnected();
    if (verdict.linkDown) ApplyDisconnected();
    if (verdict.noPort) ShowMissingPorts(L"No_Port");
    if (!verdict.noticeKey.empty()) ShowNotice(verdict.noticeKey);
    TellDeskState();
}


void CSession::OnRefreshPorts() {
    // A refresh would rewrite the port table that a running attempt walks.
    if (m_connection.AttemptRunning()) return;
    Apply(m_connection.StopWatching());
    ProbeAndShowPorts();
}

bool CSession::ProbeAndShowPorts() {
    // Read again each time: the user may have plugged in or mapped a port.
    m_serial.SetPortMap(m_portsOverride ? *m_portsOverride : CPortMap::FromSettings(m_settingFile, m_userSettingFile));
    // The window keeps drawing while network ports are asked.
    if (!m_serial.ProbePorts([this] { m_ui.KeepDrawing(); })) {
        m_ui.ShowPorts({});
        ShowMissingPorts(L"Serial_Port_Abnormal");
        return false;
    }
    std::vector<std::wstring> entries{L"自动检索"};
    const auto& table = m_serial.PortTable();
    for (int k = 1; k <= table[0]; ++k) entries.push_back(L"COM" + std::to_wstring(table[static_cast<size_t>(k)]));
    m_ui.ShowPorts(entries);
    return true;
}

void CSession::ShowMissingPorts(std::wstring_view key) {
    const std::string& device = m_serial.RefusedDevice();
    if (device.empty()) {
        ShowNotice(key);
        return;
    }
    m_ui.Tell(MessageText(m_texts, L"Port_No_Permission",
                          {{L"{device}", WideFromUtf8(device)}, {L"{group}", WideFromUtf8(platform::OwningGroup(device))}}));
}

bool CSession::Close(bool mayRefuse) {
    // Only Yes closes: Escape and the close box mean "don't" here as on
    // every desktop, and the question guards readings not yet saved.
    if (m_core.Table().RowCount() > 0 && mayRefuse && m_ui.AskYesNo(Text(SECTION_MESSAGE, L"Close_Exe")) != ANSWER_YES)
        return false;
    if (m_link.IsConnected()) {
        // The reader sends the stop byte after every acknowledge already
        // asked for, then ends; it never waits for this thread meanwhile.
        SendStopAndEnd();
        m_serial.WaitForFinish(FINISH_WAIT_MS);
    }
    return true;
}

void CSession::OnTimer(SessionTimer timer) {
    switch (timer) {
        case SessionTimer::Attempt: Apply(m_connection.OnAttemptTimer()); break;
        case SessionTimer::Watch: Apply(m_connection.OnWatchTimer()); break;
        case SessionTimer::Quiet:
            // The timer runs on the window's clock; bytes the reader has not
            // handed over yet (a busy machine) mean the line was not quiet.
            if (!m_serial.LineQuiet())
                m_ui.StartTimer(SessionTimer::Quiet, m_serial.QuietMs(), false);
            else if (m_judging)
                // A question asked while a frame is judged runs the event
                // loop; the open frame waits for that judging to end.
                WatchLineQuiet(true);
            else if (const Frame frame = m_link.Flush(); !frame.empty())
                TakeFrame(frame);
            break;
    }
}

void CSession::WatchLineQuiet(bool open) {
    if (open)
        m_ui.StartTimer(SessionTimer::Quiet, m_serial.QuietMs(), false);
    else
        m_ui.StopTimer(SessionTimer::Quiet);
}

void CSession::SendStopAndEnd() {
    const uint8_t stop = CMD_STOP;
    m_serial.RequestSendThenStop(&stop, 1);
}

void CSession::ApplyConnected() {
    m_ui.HidePortReport();  // whatever it reported is over
    m_link.SetConnected(true);
    LinkStateChanged(true);
}

void CSession::ApplyDisconnected() {
    m_link.SetConnected(false);
    LinkStateChanged(false);
}

void CSession::ShowPortError(const std::wstring& text, const std::wstring& caption) { m_ui.ShowPortReport(text, caption); }

void CSession::OnPortRemoved(unsigned portNumber) {
    // The rows stay, and the link comes back by itself with the device.
    Apply(m_connection.OnPortRemoved());
    if (!m_link.IsConnected()) return;
    ApplyDisconnected();
    Apply(m_connection.StartWatching(static_cast<int>(portNumber)));
    m_ui.ShowStatus();
}

void CSession::OnPortUnreached(unsigned) {
    // As a silent scale, without waiting out the handshake's time.
    Apply(m_connection.OnPortUnreached());
}

void CSession::OnLineSettingsKept(unsigned portNumber, const std::wstring& settings) {
    m_settingsKept = settings;
    m_settingsKeptPort = portNumber;
    m_ui.ShowStatus();
}

// ---- saving

// Where the save dialog opens: the folder of the last save, else the user's
// documents, else home; never the folder the program was started from.
std::wstring CSession::SaveDialogFolder() const {
    std::error_code ignored;
    const std::wstring last = RememberedSaveFolder(m_userSettingFile);
    if (!last.empty() && std::filesystem::is_directory(PathFromWide(last), ignored)) return last;
    const std::filesystem::path documents = m_documentsFolder.parent_path();
    if (!documents.empty() && std::filesystem::is_directory(documents, ignored)) return WideFromPath(documents);
    return WideFromPath(UserHomeFolder());
}

std::wstring CSession::AskSavePath(const std::wstring& initialName) {
    SaveChoice shown(initialName, m_saveExtension);
    std::wstring folder = SaveDialogFolder();
    for (;;) {
        const SaveChoice choice = m_ui.AskSavePath(shown.path, folder, shown.extension);
        if (choice.path.empty()) return {};
        const std::wstring path = WorkbookPathFor(choice.path, choice.extension);
        if (path == choice.path) return path;
        // The dialog asked about the name as typed; the name completed here
        // may be an existing file, which is replaced only when the user says so.
        std::error_code ignored;
        if (!std::filesystem::exists(PathFromWide(path), ignored)) return path;
        if (m_ui.AskYesNo(MessageText(m_texts, L"Replace_File", {{L"{file}", path}})) == ANSWER_YES) return path;
        // The dialog comes back as the clerk left it.
        const std::filesystem::path typed = PathFromWide(choice.path);
        shown = SaveChoice(WideFromPath(typed.filename()), choice.extension);
        folder = WideFromPath(typed.parent_path());
    }
}

namespace {

// The stamped name in the folder, or with "-2", "-3" ... after the stamp:
// two full tables within a second never share a workbook.
constexpr int MAX_NAME_SUFFIX = 99;

std::wstring UnusedName(const std::filesystem::path& folder, const std::wstring& stamp) {
    std::error_code ignored;
    std::filesystem::path path = folder / PathFromWide(stamp + L".xls");
    for (int n = 2; std::filesystem::exists(path, ignored) && n <= MAX_NAME_SUFFIX; ++n)
        path = folder / PathFromWide(stamp + L"-" + std::to_wstring(n) + L".xls");
    return WideFromPath(path);
}

}  // namespace

bool CSession::SaveTableToExcel(bool bAuto, int& rowsSaved) {
    const std::wstring stamp = DefaultExportName(static_cast<int64_t>(std::time(nullptr)));
    // The dialog offers the type the clerk chose last.
    const std::wstring fileName = stamp + m_saveExtension;
    std::wstring path;
    if (bAuto) {
        path = UnusedName(PathFromWide(m_appDir), stamp);
    } else {
        path = AskSavePath(fileName);
        if (path.empty()) return false;
    }
    // The rows the workbook holds: readings that arrived while the dialog was
    // open are in it, later ones are not.
    rowsSaved = m_core.Table().RowCount();
    ExportResult result = WriteTable(path);
    if (!bAuto && result.status == ExportStatus::Saved) {
        RememberSaveFolder(m_userSettingFile, WideFromPath(PathFromWide(path).parent_path()));
        m_saveExtension = NamesXlsx(path) ? L".xlsx" : L".xls";
    }
    bool elsewhere = false;
    if (bAuto && result.status == ExportStatus::SaveFailed && !m_documentsFolder.empty()) {
        // An installed program's folder is not the user's to write: the
        // user's documents take the table instead, and the notice says so.
        std::error_code ignored;
        std::filesystem::create_directories(m_documentsFolder, ignored);
        path = UnusedName(m_documentsFolder, stamp);
        result = WriteTable(path);
        elsewhere = true;
    }
    switch (result.status) {
        case ExportStatus::Saved:
            m_savedRows = rowsSaved;
            m_savedPath = path;
            if (bAuto) m_ui.ShowNoticeNoWait(FullTableSavedText(m_texts, path, elsewhere));
            m_ui.ShowStatus();
            return true;
        case ExportStatus::CouldNotBegin:
            ShowNotice(L"Create_Excel_Falie");
            return false;
        case ExportStatus::SaveFailed:
            m_ui.Tell(MessageText(m_texts, L"Save_Failed", {{L"{file}", path}, {L"{reason}", result.message}}));
            return false;
    }
    return false;
}

ExportResult CSession::WriteTable(const std::wstring& path) {
    // What the table shows now: rows that arrive from here on are not written.
    std::vector<ExportColumn> columns;
    const std::vector<int> widths = m_ui.ColumnWidths();
    for (size_t i = 0; i < widths.size() && i < TABLE_COLUMNS.size(); ++i)
        columns.push_back({Text(SECTION_HEADER, TABLE_COLUMNS[i].headerKey), widths[i]});
    ExportRequest request = TableExport(m_core.Table(), path, std::move(columns));
    request.tempFolder = m_exportTempFolder;
    m_ui.ShowBusy(true);
    ExportResult result = WriteWorkbook(request);
    m_ui.ShowBusy(false);
    return result;
}

}  // namespace tarvex
