#include "outputs/FeedOutputs.h"

#include <cerrno>
#include <charconv>
#include <system_error>

#include "text/BoxTexts.h"
#include "outputs/DatabaseRows.h"
#include "outputs/DeliveredMark.h"
#include "outputs/FeedAddress.h"
#include "text/TextCodec.h"
#include "text/SystemReason.h"

namespace tarvex {
namespace {

// Readings the CSV file's thread may have waiting before the rest is read
// from the journal again.
constexpr size_t CSV_QUEUE_READINGS = 4096;
// The database's: a few batches.
constexpr size_t DATABASE_QUEUE_READINGS = 4 * DATABASE_BATCH_READINGS;

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    size_t at = 0;
    while ((at = text.find_first_not_of(" \t", at)) != std::string::npos) {
        const size_t end = text.find_first_of(" \t", at);
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

}  // namespace

CFeedOutputs::~CFeedOutputs() {
    m_lifetime.End();
    // A queue's thread ends before the output it hands readings to; a wait
    // for the database server ends at once.
    m_csvQueue.reset();
    if (m_database) m_database->Stop();
    m_databaseQueue.reset();
}

std::vector<std::wstring> CFeedOutputs::Start(const FeedStart& start) {
    std::vector<std::wstring> told;
    StartHttp(start, told);
    StartCsv(start, told);
    StartDatabase(start, told);
    LanguageChanged(start.texts, start.remarkPrefix);
    return told;
}

void CFeedOutputs::StartHttp(const FeedStart& start, std::vector<std::wstring>& told) {
    const std::string address = Utf8FromWide(start.setting(L"Http"));
    if (address.empty()) return;
    HttpFeedSettings settings;
    if (!ParseFeedAddress(address, settings.host, settings.port)) {
        told.push_back(Filled(start.texts.Text(SECTION_MESSAGE, L"Feed_Bad_Address"),
                              {{L"{value}", WideFromUtf8(address)}, {L"{file}", start.settingFile}}));
        return;
    }
    settings.loopback = IsLoopbackHost(settings.host);
    settings.token = Utf8FromWide(start.setting(L"Token"));
    const std::wstring certificate = start.setting(L"Certificate"), key = start.setting(L"Key");
    const auto refuse = [&](const wchar_t* message) {
        told.push_back(Filled(start.texts.Text(SECTION_MESSAGE, message), {{L"{address}", WideFromUtf8(address)},
                                                                            {L"{file}", start.settingFile},
                                                                            {L"{certificate}", certificate},
                                                                            {L"{key}", key}}));
    };
    if (!certificate.empty() || !key.empty()) {
        if (!FeedCanServeTls()) return refuse(L"Feed_No_Tls");
        if (certificate.empty() || key.empty()) return refuse(L"Feed_Half_Tls");
        // A name without a folder is beside the settings file.
        const std::filesystem::path beside = PathFromWide(start.settingFile).parent_path();
        settings.certificateFile = (beside / PathFromWide(certificate)).string();
        settings.keyFile = (beside / PathFromWide(key)).string();
    }
    // Beyond this computer the token, and every reading, cross a network.
    if (!settings.loopback && settings.token.size() < FEED_TOKEN_MIN_LENGTH) return refuse(L"Feed_Needs_Token");
    if (!settings.loopback && settings.certificateFile.empty()) return refuse(L"Feed_Needs_Tls");
    for (std::string& origin : Words(Utf8FromWide(start.setting(L"Allow_Origins")))) {
        // Sandboxed frames and local files send "null"; "*" is no origin at all.
        if (origin == "null" || origin == "*")
            told.push_back(Filled(start.texts.Text(SECTION_MESSAGE, L"Feed_Bad_Origin"),
                                  {{L"{value}", WideFromUtf8(origin)}, {L"{file}", start.settingFile}}));
        else
            settings.allowedOrigins.push_back(std::move(origin));
    }
    auto http = std::make_unique<CHttpFeed>(std::move(settings));
    if (!http->CertificateUsable()) return refuse(L"Feed_Bad_Certificate");
    http->SetRemarkPrefix(start.remarkPrefix);
    // The readings from before this run (and before any clear), by seq.
    if (start.lastSeq > 0 && start.readFrom) {
        const uint64_t first = start.lastSeq > FEED_KEPT_READINGS ? start.lastSeq - FEED_KEPT_READINGS + 1 : 1;
        http->AddEarlier(start.readFrom(first, FEED_KEPT_READINGS));
    }
    if (!http->Start()) {
        told.push_back(Filled(start.texts.Text(SECTION_MESSAGE, L"Feed_Address_Taken"),
                              {{L"{address}", WideFromUtf8(address)}}));
        return;
    }
    http->SetReadFrom(start.readFrom);
    m_http = std::move(http);
}

void CFeedOutputs::StartCsv(const FeedStart& start, std::vector<std::wstring>& told) {
    const std::wstring file = start.setting(L"Csv_File");
    if (file.empty()) return;
    const std::wstring separatorText = start.setting(L"Csv_Separator");
    char separator = ',';
    if (separatorText == L";") {
        separator = ';';
    } else if (!separatorText.empty() && separatorText != L",") {
        told.push_back(Filled(start.texts.Text(SECTION_MESSAGE, L"Feed_Bad_Separator"), {{L"{file}", start.settingFile}}));
    }
    const CTextLookup& texts = start.texts;
    auto post = start.post;
    auto noteChanged = start.noteChanged;
    const CLifetime::Token alive = m_lifetime.Watch();
    std::filesystem::path path = PathFromWide(file);
    if (path.is_relative() && !start.folder.empty()) {
        // The program's own folder among the user's documents is made when
        // missing; a folder named in full is waited for (a share may be away).
        std::error_code ignored;
        std::filesystem::create_directories(start.folder, ignored);
        path = start.folder / path;
    }
    m_csv = std::make_unique<CCsvFileOutput>(
        path, separator, start.remarkPrefix,
        [this, &texts, post, noteChanged, alive](bool written, int error) {
            // On the file's thread: the note is made on the window's.
            post([this, &texts, noteChanged, alive, written, error] {
                if (!alive.Alive()) return;
                const std::wstring reason = error == EWOULDBLOCK || error == EACCES
                                                ? texts.Text(SECTION_MESSAGE, L"Reason_File_Held")
                                                : SystemReason(error);
                m_note = written ? texts.Text(SECTION_STATUS, L"Status_Csv_Back")
                                 : Filled(texts.Text(SECTION_STATUS, L"Status_Csv_Failed"), {{L"{reason}", reason}});
                if (noteChanged) noteChanged();
            });
        });
    m_csvQueue = std::make_unique<CQueuedOutput>(*m_csv, CSV_QUEUE_READINGS, start.readFrom, start.post);
    // Lines that waited when the program last ended (or was killed) come
    // from the journal now, after the last one the file has.
    const uint64_t written = m_csv->LastSeqWritten(start.desk);
    if (written > 0) CatchUpFrom(*m_csvQueue, written, start.lastSeq);
}

void CFeedOutputs::CatchUpFrom(CQueuedOutput& queue, uint64_t confirmed, uint64_t lastSeq) {
    if (confirmed < lastSeq) queue.ReadingsHeldBack(confirmed + 1);
}

void CFeedOutputs::StartDatabase(const FeedStart& start, std::vector<std::wstring>& told) {
    if (!start.databaseSetting) return;
    const std::string connection = Utf8FromWide(start.databaseSetting(L"Connection"));
    if (connection.find_first_not_of(" \t") == std::string::npos) return;
    DatabaseTarget target;
    std::string reason;
    if (!ParseDatabaseTarget(connection, Utf8FromWide(start.databaseSetting(L"Table")), target, reason)) {
        told.push_back(Filled(start.texts.Text(SECTION_MESSAGE, L"Database_Bad_Connection"),
                              {{L"{file}", start.settingFile}, {L"{reason}", WideFromUtf8(reason)}}));
        return;
    }
    const CTextLookup& texts = start.texts;
    auto post = start.post;
    auto noteChanged = start.noteChanged;
    const CLifetime::Token alive = m_lifetime.Watch();
    const std::string table = target.table;
    std::filesystem::path mark = start.journal;
    if (!mark.empty()) mark += ".delivered";
    m_database = std::make_unique<CDatabaseOutput>(
        std::move(target), mark, start.remarkPrefix,
        [this, &texts, post, noteChanged, alive, table](const std::optional<DatabaseTrouble>& trouble) {
            // On the database's thread: the note is made on the window's.
            post([this, &texts, noteChanged, alive, table, trouble] {
                if (!alive.Alive()) return;
                if (!trouble) {
                    m_databaseNote = texts.Text(SECTION_STATUS, L"Status_Database_Back");
                } else {
                    std::wstring why = WideFromUtf8(trouble->reason);
                    if (!trouble->missingColumns.empty()) {
                        std::wstring columns;
                        for (const std::string& column : trouble->missingColumns)
                            columns += (columns.empty() ? L"" : L", ") + WideFromUtf8(column);
                        why = Filled(texts.Text(SECTION_MESSAGE, L"Reason_Database_Columns"),
                                        {{L"{table}", WideFromUtf8(table)}, {L"{columns}", columns}});
                    }
                    m_databaseNote = Filled(texts.Text(SECTION_STATUS, L"Status_Database_Failed"), {{L"{reason}", why}});
                }
                if (noteChanged) noteChanged();
            });
        });
    m_databaseQueue = std::make_unique<CQueuedOutput>(*m_database, DATABASE_QUEUE_READINGS, start.readFrom, start.post);
    // First use at this desk: from the next reading on. Later: what the
    // server had not confirmed when the program last ended (or was killed).
    const std::optional<uint64_t> confirmed = ReadDeliveredMark(mark, start.desk, m_database->MarkTarget());
    if (!confirmed)
        WriteDeliveredMark(mark, start.desk, m_database->MarkTarget(), start.lastSeq);
    else
        CatchUpFrom(*m_databaseQueue, *confirmed, start.lastSeq);
}

std::vector<IReadingOutput*> CFeedOutputs::Outputs() const {
    std::vector<IReadingOutput*> outputs;
    if (m_http) outputs.push_back(m_http.get());
    if (m_csvQueue) outputs.push_back(m_csvQueue.get());
    if (m_databaseQueue) outputs.push_back(m_databaseQueue.get());
    return outputs;
}

void CFeedOutputs::LanguageChanged(const CTextLookup& texts, const std::wstring& remarkPrefix) {
    if (m_csv) m_csv->SetRemarkPrefix(remarkPrefix);
    if (m_database) m_database->SetRemarkPrefix(remarkPrefix);
    if (!m_http) return;
    m_http->SetRemarkPrefix(remarkPrefix);
    m_http->SetPageTexts({
        {"title", texts.Text(SECTION_CAPTION, L"Dialog_Caption")},
        {"no_reading", texts.Text(L"Live_Page", L"No_Reading")},
        {"last_ten", texts.Text(L"Live_Page", L"Last_Ten")},
        {"lost", texts.Text(L"Live_Page", L"Lost")},
        {"number", texts.Text(SECTION_HEADER, L"Number")},
        {"weight", texts.Text(SECTION_HEADER, L"Data")},
        {"unit", texts.Text(SECTION_HEADER, L"Unit")},
        {"time", texts.Text(SECTION_HEADER, L"Update_Time")},
        {"connected", texts.Text(SECTION_STATUS, L"Status_Connected")},
        {"connecting", texts.Text(SECTION_STATUS, L"Status_Connecting")},
        {"watching", texts.Text(SECTION_STATUS, L"Status_Watching")},
        {"closed", texts.Text(SECTION_STATUS, L"Status_Not_Connected")},
    });
}

uint64_t CFeedOutputs::UnconfirmedFrom() const {
    uint64_t first = 0;
    for (const CQueuedOutput* queue : {m_csvQueue.get(), m_databaseQueue.get()}) {
        const uint64_t waiting = queue ? queue->FirstWaiting() : 0;
        if (waiting != 0 && (first == 0 || waiting < first)) first = waiting;
    }
    return first;
}

std::wstring CFeedOutputs::StatusNote() const {
    if (m_note.empty() || m_databaseNote.empty()) return m_note + m_databaseNote;
    return m_note + L"    " + m_databaseNote;
}

}  // namespace tarvex
