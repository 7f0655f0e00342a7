#pragma once
// The journal file: every row of the table is appended as it is added, before
// the scale is told it arrived, so a crash or a power cut loses no reading.
// Each row goes to the operating system at once; a thread of its own pushes
// the file to the disk at most a second later, so the window thread never
// waits for the disk.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "JournalFormat.h"
#include "WeighingHost.h"

namespace tarvex {

constexpr int JOURNAL_SYNC_INTERVAL_MS = 1000;
// Copies running at once each get a journal of their own.
constexpr int JOURNAL_SLOTS = 9;

class CJournal : public IRowJournal {
public:
    CJournal() = default;
    ~CJournal() override;
    CJournal(const CJournal&) = delete;
    CJournal& operator=(const CJournal&) = delete;

    // Creates the folder and takes the first journal there that no other
    // running copy holds; reads what it holds. False, with the system's
    // reason, when no journal can be kept.
    bool Open(const std::filesystem::path& folder, std::wstring& reason);
    bool IsOpen() const { return m_fd >= 0; }
    const JournalContents& Found() const { return m_found; }
    const std::filesystem::path& Path() const { return m_path; }

    // The rows found are shown again: they stay, and new rows follow them.
    // A damaged tail is copied aside first.
    void ContinueWithFound();
    // The rows found are not wanted now: copied aside under a dated name
    // (never deleted) and the journal starts empty.
    void SetFoundAside();
    // The dated copy made last; empty if none.
    const std::filesystem::path& LastSetAside() const { return m_setAside; }

    // Called once when a row cannot be written (a full disk), with the
    // system's reason; from then on rows are only in the table until it is
    // emptied.
    void OnFailure(std::function<void(const std::wstring& reason)> handler) { m_onFailure = std::move(handler); }
    bool HasFailed() const { return m_failed; }

    void RowAdded(int row, const JournalRow& record) override;
    void TableEmptied(bool keepAside) override;

    // Bytes written since the last push to the disk; for tests.
    bool HasUnsyncedRows() const { return m_dirty.load(); }

private:
    bool Truncate(size_t length);
    bool CopyAside(size_t length, const char* label);
    void StartSyncThread();
    void SyncLoop();

    int m_fd = -1;
    std::filesystem::path m_path;
    std::filesystem::path m_setAside;
    JournalContents m_found;
    bool m_decided = false;
    std::atomic<bool> m_dirty{false};
    bool m_failed = false;
    std::function<void(const std::wstring&)> m_onFailure;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_syncThread;
};

}  // namespace tarvex
