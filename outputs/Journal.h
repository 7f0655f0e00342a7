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

#include "outputs/JournalFormat.h"
#include "weighing/WeighingHost.h"

namespace tarvex {

constexpr int JOURNAL_SYNC_INTERVAL_MS = 1000;
// Copies running at once each get a journal of their own.
constexpr int JOURNAL_SLOTS = 9;

class CJournal : public IRowJournal {
public:
    using Clock = std::chrono::steady_clock;

    CJournal() = default;
    ~CJournal() override;
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
    // The file is closed and removed: its rows are kept elsewhere now.
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

    void RowAdded(int row, const JournalRow& record) override;
    void TableEmptied(bool keepAside) override;
    void FirstRowsCleared(int count) override;
    bool WantsWholeTable() override;
    void WriteWholeTable(int rows, const std::function<JournalRow(int row)>& rowAt) override;

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
    // The rows found stay in the file, behind a mark that keeps them.
    void LeaveFoundInFile();
    // The system's reason a copy aside just failed, in words.
    std::wstring WhyNoCopy() const;
    std::filesystem::path FreeAsideName(const char* label) const;
    void StartSyncThread();
    void SyncLoop();

    int m_fd = -1;
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
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_syncThread;
};

}  // namespace tarvex
