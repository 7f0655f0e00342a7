#pragma once
// The outputs for other programs that "Setting.ini" asks for: in section
// "Feed" the HTTP feed (Http, Token, Allow_Origins) and the live CSV file
// (Csv_File, Csv_Separator); in section "Database" a PostgreSQL table
// (Connection, Table). Each is off unless named; a bad value is told once
// at start, and the rest of the program runs.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "outputs/Lifetime.h"
#include "outputs/CsvFileOutput.h"
#include "outputs/DatabaseOutput.h"
#include "outputs/FeedStore.h"
#include "outputs/HttpFeed.h"
#include "outputs/QueuedOutput.h"
#include "text/TextLookup.h"

namespace tarvex {

constexpr size_t FEED_TOKEN_MIN_LENGTH = 16;

struct FeedStart {
    std::function<std::wstring(std::wstring_view key)> setting;  // a key of section "Feed"
    std::wstring settingFile;                                     // named in the messages
    std::filesystem::path folder;  // where a CSV file named without a folder goes
    const CTextLookup& texts;
    std::wstring remarkPrefix;
    CQueuedOutput::ReadFrom readFrom;  // the journal's readings by seq
    std::string desk;                  // UTF-8
    uint64_t lastSeq = 0;              // the desk's newest reading
    CQueuedOutput::Post post;          // to the window's thread
    std::function<void()> noteChanged; // on the window's thread: StatusNote() changed
    std::filesystem::path journal;     // the journal's file; the database's mark goes beside it
    std::function<std::wstring(std::wstring_view key)> databaseSetting = {};  // a key of section "Database"
};

class CFeedOutputs {
public:
    CFeedOutputs() = default;
    ~CFeedOutputs();
    CFeedOutputs(const CFeedOutputs&) = delete;
    CFeedOutputs& operator=(const CFeedOutputs&) = delete;

    // Starts what the settings ask for; the messages to tell, in words.
    std::vector<std::wstring> Start(const FeedStart& start);
    // For the session to add, in this order.
    std::vector<IReadingOutput*> Outputs() const;
    // The texts and the words before a damaged frame's bytes anew.
    void LanguageChanged(const CTextLookup& texts, const std::wstring& remarkPrefix);

    // For the status line: the CSV file's and the database's trouble or
    // its end; empty if none.
    std::wstring StatusNote() const;
    // The first reading an output has yet to confirm; 0 when none waits.
    uint64_t UnconfirmedFrom() const;
    const CHttpFeed* Http() const { return m_http.get(); }

private:
    void StartHttp(const FeedStart& start, std::vector<std::wstring>& told);
    void StartCsv(const FeedStart& start, std::vector<std::wstring>& told);
    void StartDatabase(const FeedStart& start, std::vector<std::wstring>& told);
    // Where the readings have to go from the journal first.
    void CatchUpFrom(CQueuedOutput& queue, uint64_t confirmed, uint64_t lastSeq);

    std::unique_ptr<CHttpFeed> m_http;
    std::unique_ptr<CCsvFileOutput> m_csv;
    std::unique_ptr<CQueuedOutput> m_csvQueue;
    std::wstring m_note;
    std::unique_ptr<CDatabaseOutput> m_database;
    std::unique_ptr<CQueuedOutput> m_databaseQueue;
    std::wstring m_databaseNote;
    CLifetime m_lifetime;
};

}  // namespace tarvex
