#include "journal/Journal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <system_error>


#include "files/FileCalls.h"
#include "files/WholeFile.h"
#include "weighing/CellTexts.h"
#include "text/TextCodec.h"
#include "text/SystemReason.h"

namespace tarvex {
namespace {

JournalContents ReadContents(int fd, int maxRows) {
    CJournalReader reader(maxRows);
    ReadPieces(fd, [&reader](std::string_view piece) {
        reader.Feed(piece);
        return true;
    });
    return reader.Finish();
}

// Copies the first length bytes of one file to the end of another.
bool CopyBytes(int from, int to, size_t length = SIZE_MAX) {
    return ReadPieces(from, [to](std::string_view piece) { return WriteAll(to, piece); }, length);
}

std::filesystem::path SlotPath(const std::filesystem::path& folder, int slot) {
    return folder / (slot == 1 ? std::string("journal.txt") : "journal." + std::to_string(slot) + ".txt");
}

}  // namespace

CJournal::~CJournal() {
    if (m_syncThread.joinable()) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_stopping = true;
        }
        m_wake.notify_all();
        m_syncThread.join();
    }
    if (m_fd >= 0) {
        if (m_dirty.load()) SyncToDisk(m_fd);
        CloseFile(m_fd);
    }
}

bool CJournal::Open(const std::filesystem::path& folder, std::wstring& reason, int maxRows) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    int error = 0;
    for (int slot = 1; slot <= JOURNAL_SLOTS && m_fd < 0; ++slot) {
        const std::filesystem::path path = SlotPath(folder, slot);
        if (OpenPath(path, maxRows)) {
            m_slot = slot;
            break;
        }
        if (error == 0) error = errno;
        // Not a file the journal can be kept in: left alone, and said so.
        if (errno == NOT_A_FILE && m_notAFile.empty()) m_notAFile = path;
    }
    if (m_fd < 0) {
        reason = SystemReason(error);
        return false;
    }
    return true;
}

bool CJournal::OpenLeftBehind(const std::filesystem::path& path, int maxRows) { return OpenPath(path, maxRows); }

bool CJournal::OpenPath(const std::filesystem::path& path, int maxRows) {
    m_fd = OpenLocked(path);
    if (m_fd < 0) {
        // A journal on a read-only disk or in a file this user may not
        // change can still be offered; new rows wait until it can be written.
        const int error = errno;
        if (!IsReadOnlyError(error)) return false;
        m_fd = OpenLocked(path, false);
        if (m_fd < 0) {
            errno = error;
            return false;
        }
        m_readOnlyReason = SystemReason(error);
        m_failed = true;
    }
    m_path = path;
    // A rewrite cut short by a crash leaves its copy beside a whole journal
    // (named ".new" by versions before the one naming rule).
    std::error_code ignored;
    std::filesystem::remove(CWholeFile::BesideOf(path), ignored);
    std::filesystem::path older = path;
    older += ".new";
    std::filesystem::remove(older, ignored);
    m_found = ReadContents(m_fd, maxRows);
    m_desk = m_found.desk;
    m_lastSeq = m_found.lastSeq;
    m_historyRows = std::max(m_found.rowLines - m_found.rowsInFile, 0);
    m_previousEnd = m_found.firstSeq > 0 ? m_found.firstSeq - 1 : m_lastSeq;
    // The damaged original is copied aside before anything is decided, so
    // the offer can say where it is.
    if (m_found.damaged && m_found.state != JournalState::Unreadable) m_damagedCopied = CopyAside("damaged");
    return true;
}

std::vector<std::filesystem::path> CJournal::OthersLeftBehind() const {
    std::vector<std::filesystem::path> found;
    if (m_path.empty()) return found;
    for (int slot = 1; slot <= JOURNAL_SLOTS; ++slot) {
        const std::filesystem::path path = SlotPath(m_path.parent_path(), slot);
        std::error_code ignored;
        if (path == m_path || !std::filesystem::exists(path, ignored)) continue;
        int fd = OpenLocked(path);
        if (fd < 0 && IsReadOnlyError(errno)) fd = OpenLocked(path, false);
        if (fd < 0) continue;  // a running copy's, or no file
        const JournalContents contents = ReadContents(fd, 1);
        CloseFile(fd);
        if (contents.state == JournalState::Rows) found.push_back(path);
    }
    return found;
}

void CJournal::SetDesk(const std::string& desk) {
    m_desk = desk;
    for (RowRecord& row : m_found.rows) {
        if (row.seq != 0) continue;
        row.desk = desk;
        row.seq = ++m_lastSeq;
    }
}

void CJournal::NoteSeq(const RowRecord& record) {
    if (record.desk == m_desk && record.seq > m_lastSeq) m_lastSeq = record.seq;
}

std::filesystem::path CJournal::PreviousPath() const {
    std::filesystem::path previous = m_path;
    previous.replace_extension(".prev.txt");
    return previous;
}

std::vector<RowRecord> CJournal::ReadFrom(uint64_t seq, size_t most) const {
    std::vector<RowRecord> found;
    const auto take = [&](const RowRecord& record) {
        if (record.desk == m_desk && record.seq >= seq) found.push_back(record);
        return found.size() < most;
    };
    const auto scan = [&](int fd) {
        CJournalRowScanner scanner;
        ReadPieces(fd, [&](std::string_view piece) {
            scanner.Feed(piece, take);
            return found.size() < most;
        });
    };
    if (m_fd < 0 || most == 0) return found;
    // The previous file holds the older ones, when any are asked for.
    if (seq <= m_previousEnd) {
        const int previous = OpenLocked(PreviousPath(), false);
        if (previous >= 0) {
            scan(previous);
            CloseFile(previous);
        }
    }
    const size_t before = found.size();
    scan(m_fd);
    // Rows of the table written again at the new start are in both files.
    if (before > 0 && found.size() > before) {
        const uint64_t last = found[before - 1].seq;
        found.erase(std::remove_if(found.begin() + static_cast<long>(before), found.end(),
                                   [last](const RowRecord& r) { return r.seq <= last; }),
                    found.end());
    }
    return found;
}

void CJournal::LeaveFoundInFile() {
    // The file up to its last whole line stays as it is, and a mark after
    // it keeps those rows out of the table but in the file.
    m_leftBytes = m_found.wholeBytes;
    m_leftLive = m_found.rowsInFile;
    m_liveRows = 0;
    if (m_failed) return;  // the mark comes with the next whole rewrite
    Truncate(m_found.wholeBytes);
    if (m_leftLive == 0 || Append(FormatKeptLine(m_leftLive))) {
        const long long length = FileLength(m_fd);
        m_leftBytes = length > 0 ? static_cast<size_t>(length) : m_leftBytes;
        m_leftLive = 0;
    }
}

void CJournal::ContinueWithFound() {
    if (m_fd < 0) return;
    m_decided = true;
    StartSyncThread();
    if (m_found.state == JournalState::Unreadable) {
        SetFoundAside();
        return;
    }
    const int shown = static_cast<int>(m_found.rows.size());
    // A journal of an older version goes on only when it has no rows to carry.
    const bool current = m_found.version == JOURNAL_VERSION;
    if (!m_found.damaged && m_found.droppedRows == 0 && (current || (shown == 0 && m_found.keptBytes == 0))) {
        // The file goes on as it is.
        if ((m_found.wholeBytes == 0 || !current) && !m_failed) {
            Truncate(0);
            WriteAll(m_fd, Start());
        } else if (m_desk != m_found.desk && !m_failed) {
            Append(FormatSeqLine(m_desk, m_lastSeq));  // the count goes on under the new name
        }
        m_leftBytes = m_found.keptBytes;
        m_liveRows = m_failed ? 0 : shown;
        return;
    }
    // The rows shown are numbered from 0 again, so the file cannot simply
    // go on: a new journal holds them, and the whole old file goes aside
    // under a dated name (renamed, not copied: it may be huge), unless it
    // was copied aside as damaged already.
    std::string rows;
    for (int i = 0; i < shown; ++i) rows += FormatJournalLine(i, m_found.rows[static_cast<size_t>(i)]);
    const char* keepOldAs = m_damagedCopied ? nullptr : m_found.damaged ? "damaged" : "kept";
    if (!m_failed && ReplaceWith(0, Start() + rows, keepOldAs)) {
        m_historyRows = 0;
        m_liveRows = shown;
        m_leftBytes = 0;
        return;
    }
    // No new file could be made: the old rows stay in the file behind a
    // mark, and the rows shown follow them once more.
    LeaveFoundInFile();
    if (m_failed) return;
    if (Append(rows)) m_liveRows = shown;
}

bool CJournal::SetFoundAside(std::wstring* reason) {
    if (m_fd < 0) return true;
    m_decided = true;
    StartSyncThread();
    const bool worthKeeping = m_found.state != JournalState::Empty || m_found.damaged || m_found.keptBytes > 0;
    // Only once the copy is safely written is the journal started again.
    if (!m_failed && (!worthKeeping || m_damagedCopied || CopyAside("kept"))) {
        Truncate(0);
        WriteAll(m_fd, Start());
        m_found = {};
        m_liveRows = 0;
        m_historyRows = 0;
        m_leftBytes = 0;
        m_leftLive = 0;
        return true;
    }
    if (reason) {
        *reason = WhyNoCopy();
    }
    if (m_found.state == JournalState::Unreadable) {
        // Nothing can safely follow what is there: the file stays as it is
        // and this run keeps no journal.
        std::lock_guard<std::mutex> guard(m_lock);
        CloseFile(m_fd);
        m_fd = -1;
        return false;
    }
    // No copy: the rows stay in the file, marked as no longer in the table,
    // so new readings follow them without ever being mixed with them.
    LeaveFoundInFile();
    m_found = {};
    return false;
}

std::wstring CJournal::WhyNoCopy() const {
    // A journal that cannot be written says why; otherwise the failed call does.
    return m_readOnlyReason.empty() ? SystemReason(errno) : m_readOnlyReason;
}

void CJournal::Remove() {
    if (m_fd < 0) return;
    // Only the desk's count stays, for the copy that takes this slot next.
    const bool emptied = m_readOnlyReason.empty() && Truncate(0) && WriteAll(m_fd, Start()) && SyncToDisk(m_fd);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        CloseFile(m_fd);
        m_fd = -1;
    }
    std::error_code ignored;
    if (!emptied) std::filesystem::remove(m_path, ignored);
}

bool CJournal::MoveAside(std::wstring* reason) {
    if (m_fd < 0) return true;
    if (!m_damagedCopied && !CopyAside("kept")) {
        if (reason) *reason = SystemReason(errno);
        return false;
    }
    Remove();
    return true;
}

bool CJournal::Append(std::string_view lines) {
    size_t done = 0;
    if (WriteAll(m_fd, lines, &done)) {
        m_dirty.store(true);
        return true;
    }
    const int error = errno;
    // Rows after a gap could never be shown again: only whole lines stay.
    const long long length = FileLength(m_fd);
    if (length >= static_cast<long long>(done)) TruncateTo(m_fd, static_cast<size_t>(length) - done);
    Fail(error);
    return false;
}

void CJournal::Fail(int error) {
    m_lastTry = Clock::now();
    if (m_failed) return;
    m_failed = true;
    if (m_onFailure) m_onFailure(SystemReason(error));
}

void CJournal::RowAdded(int row, const RowRecord& record) {
    NoteSeq(record);
    if (m_fd < 0 || m_failed) return;
    if (!m_decided) SetFoundAside();  // rows found earlier are never mixed with new ones
    if (m_fd >= 0 && Append(FormatJournalLine(row, record))) ++m_liveRows;
}

void CJournal::FirstRowsCleared(int count) {
    // A failed journal is written anew as a whole once the disk takes it.
    if (m_fd < 0 || m_failed) return;
    if (Append(FormatClearedLine(count))) {
        m_liveRows -= count;
        m_historyRows += count;
    }
}

void CJournal::TableEmptied(bool keepAside) {
    if (m_fd < 0) return;
    const bool mustKeep = keepAside || m_leftBytes > 0;
    if (mustKeep && !CopyAside("kept")) {
        const std::wstring reason = WhyNoCopy();
        // No copy: the rows stay in the file behind a mark that they left
        // the table (a failing journal gets the mark in its next rewrite).
        const int unmarked = m_leftLive + m_liveRows;
        if (unmarked > 0 && !m_failed && WriteAll(m_fd, FormatKeptLine(unmarked)))
            m_leftLive = 0;
        else
            m_leftLive = unmarked;
        if (!m_failed) {
            const long long length = FileLength(m_fd);
            m_leftBytes = length > 0 ? static_cast<size_t>(length) : m_leftBytes;
        }
        m_liveRows = 0;
        m_dirty.store(true);
        if (m_onKeptInPlace) m_onKeptInPlace(reason);
        return;
    }
    const int live = m_liveRows;
    m_liveRows = 0;
    // A journal that cannot be written is started anew by its next rewrite.
    if (!m_readOnlyReason.empty()) {
        m_leftBytes = 0;
        m_leftLive = 0;
        return;
    }
    if (!mustKeep && !m_failed) {
        // The rows stay in the file, for an output that asks for them again.
        if (live > 0 && Append(FormatClearedLine(live))) m_historyRows += live;
        return;
    }
    m_leftBytes = 0;
    m_leftLive = 0;
    m_historyRows = 0;
    Truncate(0);
    // An empty table starts a whole journal again, even after a failure.
    if (WriteAll(m_fd, Start())) {
        if (m_failed) {
            m_failed = false;
            if (m_onRecovered) m_onRecovered();
        }
    } else {
        Fail(errno);
    }
    m_dirty.store(true);
}

bool CJournal::WantsWholeTable() {
    return m_fd >= 0 && m_failed && Clock::now() - m_lastTry >= m_retryInterval;
}

void CJournal::WriteWholeTable(int rows, const std::function<RowRecord(int row)>& rowAt) {
    m_lastTry = Clock::now();
    // Still no room: tried again a moment later. A journal that could not
    // be opened again after the swap is gone for this run.
    if (!Rewrite(rows, rowAt, {})) return;
    m_failed = false;
    m_readOnlyReason.clear();
    if (m_onRecovered) m_onRecovered();
}

bool CJournal::WantsNewFile() const {
    if (m_fd < 0 || m_failed || m_historyRows < JOURNAL_OUTBOX_ROWS) return false;
    // The previous file goes: only when no output still waits for its rows.
    return m_keepFrom == 0 || m_keepFrom > m_previousEnd || m_historyRows >= JOURNAL_OUTBOX_MOST_ROWS;
}

void CJournal::StartNewFile(int rows, const std::function<RowRecord(int row)>& rowAt) {
    if (Rewrite(rows, rowAt, PreviousPath())) m_previousEnd = m_lastSeq;
}

bool CJournal::Rewrite(int rows, const std::function<RowRecord(int row)>& rowAt, const std::filesystem::path& oldTo) {
    std::string bytes = m_leftBytes > 0 ? std::string() : Start();
    if (m_leftLive > 0) bytes += FormatKeptLine(m_leftLive);
    const size_t prefix = m_leftBytes + bytes.size();
    for (int i = 0; i < rows; ++i) bytes += FormatJournalLine(i, rowAt(i));
    if (!ReplaceWith(m_leftBytes, bytes, oldTo)) return false;
    if (m_leftBytes > 0) m_leftBytes = prefix;
    m_leftLive = 0;
    m_liveRows = rows;
    m_historyRows = 0;
    m_dirty.store(true);
    return true;
}

bool CJournal::Truncate(size_t length) { return TruncateTo(m_fd, length); }

bool CJournal::ReplaceWith(size_t keepPrefix, std::string_view tail, const char* keepOldAs) {
    const std::filesystem::path aside = keepOldAs ? FreeAsideName(keepOldAs) : std::filesystem::path();
    if (keepOldAs && aside.empty()) return false;
    return ReplaceWith(keepPrefix, tail, aside);
}

bool CJournal::ReplaceWith(size_t keepPrefix, std::string_view tail, const std::filesystem::path& aside) {
    // The new file is locked before it takes the journal's name.
    CWholeFile file(m_path, {true, true});
    if (!file.Begin() || !file.CopyFrom(m_fd, keepPrefix) || !file.Write(tail)) return false;
    const auto closeOld = [this] {
#ifdef _WIN32
        // An open file cannot be renamed here: closed, renamed, opened again.
        std::lock_guard<std::mutex> guard(m_lock);
        CloseFile(m_fd);
        m_fd = -1;
#endif
    };
    const bool placed = file.Commit(aside, closeOld);
#ifdef _WIN32
    if (m_fd < 0) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_fd = OpenLocked(m_path);
        if (m_fd < 0 && IsReadOnlyError(errno)) m_fd = OpenLocked(m_path, false);
    }
    if (placed && !aside.empty()) m_setAside = aside;
    return placed && m_fd >= 0;
#else
    if (!placed) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    CloseFile(m_fd);
    m_fd = file.TakeFile();
    if (!aside.empty()) m_setAside = aside;
    return true;
#endif
}

std::filesystem::path CJournal::FreeAsideName(const char* label) const {
    const std::string stamp = Utf8FromWide(FormatLocalTime(static_cast<int64_t>(std::time(nullptr)),
                                                           "%Y-%m-%d-%H-%M-%S"));
    for (int n = 1; n < 100; ++n) {
        std::string name = "journal-" + std::string(label) + "-" + stamp;
        if (n > 1) name += "-" + std::to_string(n);
        const std::filesystem::path target = m_path.parent_path() / (name + ".txt");
        std::error_code ec;
        if (!std::filesystem::exists(target, ec) && !ec) return target;
    }
    return {};
}

bool CJournal::CopyAside(const char* label) {
    for (;;) {
        const std::filesystem::path target = FreeAsideName(label);
        if (target.empty()) {
            errno = EEXIST;
            return false;
        }
        const int fd = OpenNew(target);
        if (fd < 0) {
            if (errno == EEXIST) continue;  // taken since it was looked at
            return false;
        }
        const bool written = CopyBytes(m_fd, fd) && SyncToDisk(fd);
        const int error = errno;
        CloseFile(fd);
        if (!written) {
            std::error_code ignored;
            std::filesystem::remove(target, ignored);
            errno = error;
            return false;
        }
        m_setAside = target;
        return true;
    }
}

void CJournal::StartSyncThread() {
    if (m_syncThread.joinable()) return;
    m_syncThread = std::jthread([this] { SyncLoop(); });
}

void CJournal::SyncLoop() {
    // The lock is held while syncing: the file may be swapped in between.
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stopping) {
        m_wake.wait_for(lock, std::chrono::milliseconds(JOURNAL_SYNC_INTERVAL_MS), [this] { return m_stopping; });
        if (m_dirty.exchange(false) && m_fd >= 0) SyncToDisk(m_fd);
    }
}

}  // namespace tarvex
