#pragma once
// The journal file: every row of the table is appended as it is added, before
// the scale is told it arrived, so a crash or a power cut loses no reading.
// Each row goes to the operating system at once; a thread of its own pushes
// the file to the disk at most a second later, so the window thread never
// waits for the disk.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "journal/JournalFormat.h"

namespace tarvex {

constexpr int JOURNAL_SYNC_INTERVAL_MS = 1000;
// Copies running at once each get a journal of their own.
constexpr int JOURNAL_SLOTS = 9;
// Readings that left the table stay readable by seq (ReadFrom): the file
// starts anew, its old self kept as the previous journal, once it holds
// this many of them, so at least this many are always there. Readings an
// output has not confirmed (KeepFrom) hold that back, up to the most.
constexpr int JOURNAL_OUTBOX_ROWS = 65000;
constexpr int JOURNAL_OUTBOX_MOST_ROWS = 1000000;

class CJournal {
public:
    using Clock = std::chrono::steady_clock;

    CJournal() = default;
    ~CJournal();
    CJournal(const CJournal&) = delete;
    CJournal& operator=(const CJournal&) = delete;

    // Creates the folder and takes the first journal there that no other
    // running copy holds; reads at most maxRows of its rows (the newest).
    // False, with the system's reason, when no journal can be kept.
    bool Open(const std::filesystem::path& folder, std::wstring& reason, int maxRows = INT32_MAX);
    // Takes the journal a copy that has ended left at this path; false when
    // a running copy holds it or it cannot be opened.
    bool OpenLeftBehind(const std::filesystem::path& path, int maxRows = INT32_MAX);
    // Journals in the folder besides this one that no running copy holds
    // and that hold rows, in slot order.
    std::vector<std::filesystem::path> OthersLeftBehind() const;

    bool IsOpen() const { return m_fd >= 0; }
    // 1 for the first copy running, 2 for a second one beside it, ...; 0
    // when none is open.
    int Slot() const { return m_slot; }
    // The desk this journal's readings are taken at; said before anything
    // is decided. Found rows of an older journal get their seqs here.
    void SetDesk(const std::string& desk);
    const std::string& Desk() const { return m_desk; }
    // The highest seq the desk has given; the next reading gets one more.
    uint64_t LastSeq() const { return m_lastSeq; }
    // Up to most readings of this desk from seq on, oldest first, from the
    // previous journal and this one, those that left the table too.
    std::vector<RowRecord> ReadFrom(uint64_t seq, size_t most) const;
    // Readings from seq on are kept readable for an output that has not
    // confirmed them (within JOURNAL_OUTBOX_MOST_ROWS); 0: none waits.
    void KeepFrom(uint64_t seq) { m_keepFrom = seq; }
    // The journal could be read but not written (a read-only disk or file):
    // the system's reason; empty once it can be written.
    const std::wstring& ReadOnlyReason() const { return m_readOnlyReason; }
    // A journal's name that is taken by something other than a file (a
    // device, a pipe, a folder): left alone; empty if none.
    const std::filesystem::path& NotAFile() const { return m_notAFile; }
    // A damaged journal was copied aside, as it was, when it was opened.
    bool DamagedCopyMade() const { return m_damagedCopied; }
    const JournalContents& Found() const { return m_found; }
    const std::filesystem::path& Path() const { return m_path; }

    // The rows found are shown again: they stay, and new rows follow them.
    // A damaged tail, and rows beyond maxRows, are copied aside first.
    void ContinueWithFound();
    // The rows found are not wanted now: copied aside under a dated name
    // (never deleted) and the journal starts empty. When no copy can be
    // made they stay in the journal file, marked as left, and false comes
    // back with the system's reason.
    bool SetFoundAside(std::wstring* reason = nullptr);
    // The dated copy made last; empty if none.
    const std::filesystem::path& LastSetAside() const { return m_setAside; }
    // The file is emptied and closed: its rows are kept elsewhere now. It
    // keeps the desk's count, so the next copy in its slot goes on from it.
    void Remove();
    // Copied aside under a dated name, then removed; false, with the
    // system's reason, when no copy could be made (the file then stays).
    bool MoveAside(std::wstring* reason = nullptr);

    // Called once when a row cannot be written (a full disk), with the
    // system's reason; from then on the whole table is written anew at most
    // once a second, and onRecovered is called when that succeeds.
    void OnFailure(std::function<void(const std::wstring& reason)> handler) { m_onFailure = std::move(handler); }
    void OnRecovered(std::function<void()> handler) { m_onRecovered = std::move(handler); }
    // Called when emptying the table could not copy rows that must be kept
    // to a file of their own: they stay in the journal, behind a mark.
    void OnKeptInPlace(std::function<void(const std::wstring& reason)> handler) {
        m_onKeptInPlace = std::move(handler);
    }
    bool HasFailed() const { return m_failed; }

    // Before the row's acknowledge is asked for.
    void RowAdded(int row, const RowRecord& record);
    // The table was emptied; keepAside when its rows were never saved.
    void TableEmptied(bool keepAside);
    // The first rows were cleared; the rows after them stay and are now
    // numbered from 0.
    void FirstRowsCleared(int count);
    // After a failed write: true when the whole table should be written
    // anew; and when rows that left the table make the file long enough to
    // start anew (the rows of the table are written into the new one).
    bool WantsWholeTable();
    bool WantsNewFile() const;
    void WriteWholeTable(int rows, const std::function<RowRecord(int row)>& rowAt);
    void StartNewFile(int rows, const std::function<RowRecord(int row)>& rowAt);
    // Where the file before the last new start is kept.
    std::filesystem::path PreviousPath() const;

    // Bytes written since the last push to the disk; for tests.
    bool HasUnsyncedRows() const { return m_dirty.load(); }
    // For tests: how long after a failure the table is written anew.
    void SetRetryInterval(Clock::duration interval) { m_retryInterval = interval; }

private:
    bool OpenPath(const std::filesystem::path& path, int maxRows);
    // Appends whole lines; on a failure cuts off what was half written and
    // reports it once.
    bool Append(std::string_view lines);
    void Fail(int error);
    bool Truncate(size_t length);
    // The whole file, copied under a dated name with that label.
    bool CopyAside(const char* label);
    // Puts the file's first keepPrefix bytes and then tail in place of the
    // whole file through a copy beside it, so a crash leaves either the old
    // journal or the new one, never half. With keepOldAs the old file is
    // renamed to a dated name with that label.
    bool ReplaceWith(size_t keepPrefix, std::string_view tail, const char* keepOldAs = nullptr);
    bool ReplaceWith(size_t keepPrefix, std::string_view tail, const std::filesystem::path& oldTo);
    // The rows of the table as the only ones of a new file; the old one
    // renamed to oldTo when given.
    bool Rewrite(int rows, const std::function<RowRecord(int row)>& rowAt, const std::filesystem::path& oldTo);
    // The first lines of the file when it starts anew.
    std::string Start() const { return JournalStart(m_desk, m_lastSeq); }
    void NoteSeq(const RowRecord& record);
    // The rows found stay in the file, behind a mark that keeps them.
    void LeaveFoundInFile();
    // The system's reason a copy aside just failed, in words.
    std::wstring WhyNoCopy() const;
    std::filesystem::path FreeAsideName(const char* label) const;
    void StartSyncThread();
    void SyncLoop();

    int m_fd = -1;
    int m_slot = 0;
    std::string m_desk;
    uint64_t m_lastSeq = 0;
    uint64_t m_keepFrom = 0;
    // Rows of the desk up to this seq are only in the previous file, or gone.
    uint64_t m_previousEnd = 0;
    int m_historyRows = 0;  // rows in the file that left the table
    std::filesystem::path m_path;
    std::filesystem::path m_setAside;
    JournalContents m_found;
    bool m_decided = false;
    std::atomic<bool> m_dirty{false};
    bool m_failed = false;
    Clock::time_point m_lastTry{};
    Clock::duration m_retryInterval = std::chrono::seconds(1);
    // Bytes at the start of the file that hold rows left there because no
    // copy could be made (up to a K line); kept through every rewrite until
    // a copy succeeds.
    size_t m_leftBytes = 0;
    int m_leftLive = 0;  // rows of those bytes not yet marked as left
    int m_liveRows = 0;  // rows in the journal that are in the table
    std::function<void(const std::wstring&)> m_onFailure;
    std::function<void()> m_onRecovered;
    std::function<void(const std::wstring&)> m_onKeptInPlace;
    std::wstring m_readOnlyReason;
    std::filesystem::path m_notAFile;
    bool m_damagedCopied = false;
    std::mutex m_lock;  // m_fd while the sync thread uses it
    // The sync thread's wait ends on m_stopping, set under the lock (not on
    // a std::stop_token: its callbacks wait on a semaphore that MinGW's
    // GCC 12 can leave asleep for ever).
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::jthread m_syncThread;
};

}  // namespace tarvex
