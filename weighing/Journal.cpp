#include "Journal.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <fcntl.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "CellTexts.h"
#include "TextCodec.h"

namespace tarvex {
namespace {

// The few file calls the journal needs, on both systems.
#ifdef _WIN32
int OpenLocked(const std::filesystem::path& path) {
    int fd = -1;
    // Denying other writers is the lock: a second copy gets EACCES.
    if (::_wsopen_s(&fd, path.c_str(), _O_RDWR | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                    _SH_DENYWR, _S_IREAD | _S_IWRITE) != 0)
        return -1;
    return fd;
}
long WriteSome(int fd, const char* bytes, size_t count) {
    return ::_write(fd, bytes, static_cast<unsigned>(count));
}
long ReadAt(int fd, char* bytes, size_t count, long long offset) {
    if (::_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
    return ::_read(fd, bytes, static_cast<unsigned>(count));
}
bool SyncToDisk(int fd) { return ::_commit(fd) == 0; }
bool TruncateTo(int fd, size_t length) { return ::_chsize_s(fd, static_cast<long long>(length)) == 0; }
long long FileLength(int fd) { return ::_filelengthi64(fd); }
void CloseFile(int fd) { ::_close(fd); }
int OpenNew(const std::filesystem::path& path) {
    int fd = -1;
    if (::_wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                    _S_IREAD | _S_IWRITE) != 0)
        return -1;
    return fd;
}
#else
int OpenLocked(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}
long WriteSome(int fd, const char* bytes, size_t count) { return ::write(fd, bytes, count); }
long ReadAt(int fd, char* bytes, size_t count, long long offset) {
    return ::pread(fd, bytes, count, static_cast<off_t>(offset));
}
bool SyncToDisk(int fd) { return ::fdatasync(fd) == 0; }
bool TruncateTo(int fd, size_t length) { return ::ftruncate(fd, static_cast<off_t>(length)) == 0; }
long long FileLength(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}
void CloseFile(int fd) { ::close(fd); }
int OpenNew(const std::filesystem::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}
#endif

// False with errno set when the bytes could not all be written; *done then
// says how many were.
bool WriteAll(int fd, std::string_view bytes, size_t* done = nullptr) {
    size_t total = 0;
    while (!bytes.empty()) {
        const long written = WriteSome(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = ENOSPC;
            if (done) *done = total;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
        total += static_cast<size_t>(written);
    }
    if (done) *done = total;
    return true;
}

std::string ReadWhole(int fd) {
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const long got = ReadAt(fd, buffer, sizeof buffer, static_cast<long long>(bytes.size()));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return bytes;
        bytes.append(buffer, static_cast<size_t>(got));
    }
}

std::filesystem::path SlotPath(const std::filesystem::path& folder, int slot) {
    return folder / (slot == 1 ? std::string("journal.txt") : "journal." + std::to_string(slot) + ".txt");
}

}  // namespace

CJournal::~CJournal() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_syncThread.joinable()) m_syncThread.join();
    if (m_fd >= 0) {
        if (m_dirty.load()) SyncToDisk(m_fd);
        CloseFile(m_fd);
    }
}

bool CJournal::Open(const std::filesystem::path& folder, std::wstring& reason) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    int error = 0;
    for (int slot = 1; slot <= JOURNAL_SLOTS && m_fd < 0; ++slot) {
        m_path = SlotPath(folder, slot);
        m_fd = OpenLocked(m_path);
        if (m_fd < 0 && error == 0) error = errno;
    }
    if (m_fd < 0) {
        reason = WideFromUtf8(std::generic_category().message(error));
        m_path.clear();
        return false;
    }
    m_found = ReadJournal(ReadWhole(m_fd));
    return true;
}

void CJournal::ContinueWithFound() {
    if (m_fd < 0) return;
    m_decided = true;
    if (m_found.state == JournalState::Unreadable) {
        SetFoundAside();
        return;
    }
    const size_t whole = m_found.wholeBytes;
    if (m_found.damaged) CopyAside(static_cast<size_t>(-1), "damaged");
    if (whole == 0) {
        Truncate(0);
        WriteAll(m_fd, JournalHeader());
    } else if (m_found.damaged) {
        Truncate(whole);
    }
    StartSyncThread();
}

void CJournal::SetFoundAside() {
    if (m_fd < 0) return;
    m_decided = true;
    const bool worthKeeping = m_found.state != JournalState::Empty || m_found.damaged;
    // Only once the copy is safely written is the journal started again.
    if (!worthKeeping || CopyAside(static_cast<size_t>(-1), "kept")) {
        Truncate(0);
        WriteAll(m_fd, JournalHeader());
        m_found = {};
    }
    StartSyncThread();
}

void CJournal::RowAdded(int row, const JournalRow& record) {
    if (m_fd < 0 || m_failed) return;
    if (!m_decided) SetFoundAside();  // rows found earlier are never mixed with new ones
    size_t done = 0;
    if (!WriteAll(m_fd, FormatJournalLine(row, record), &done)) {
        const int error = errno;
        // Rows after a gap could never be shown again, so the journal stops
        // here with whole rows only, until the table is emptied.
        const long long length = FileLength(m_fd);
        if (length >= static_cast<long long>(done)) TruncateTo(m_fd, static_cast<size_t>(length) - done);
        m_failed = true;
        if (m_onFailure) m_onFailure(WideFromUtf8(std::generic_category().message(error)));
    }
    m_dirty.store(true);
}

void CJournal::TableEmptied(bool keepAside) {
    if (m_fd < 0) return;
    if (keepAside) CopyAside(static_cast<size_t>(-1), "kept");
    Truncate(0);
    // An empty table starts a whole journal again, even after a failure.
    m_failed = !WriteAll(m_fd, JournalHeader());
    m_dirty.store(true);
}

bool CJournal::Truncate(size_t length) { return TruncateTo(m_fd, length); }

bool CJournal::CopyAside(size_t length, const char* label) {
    std::string bytes = ReadWhole(m_fd);
    if (length < bytes.size()) bytes.resize(length);
    const std::string stamp = Utf8FromWide(FormatLocalTime(static_cast<int64_t>(std::time(nullptr)),
                                                           "%Y-%m-%d-%H-%M-%S"));
    const std::filesystem::path folder = m_path.parent_path();
    for (int n = 1; n < 100; ++n) {
        std::string name = "journal-" + std::string(label) + "-" + stamp;
        if (n > 1) name += "-" + std::to_string(n);
        const std::filesystem::path target = folder / (name + ".txt");
        const int fd = OpenNew(target);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        const bool written = WriteAll(fd, bytes) && SyncToDisk(fd);
        CloseFile(fd);
        if (!written) {
            std::error_code ignored;
            std::filesystem::remove(target, ignored);
            return false;
        }
        m_setAside = target;
        return true;
    }
    return false;
}

void CJournal::StartSyncThread() {
    if (m_syncThread.joinable()) return;
    m_syncThread = std::thread([this] { SyncLoop(); });
}

void CJournal::SyncLoop() {
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stop) {
        m_wake.wait_for(lock, std::chrono::milliseconds(JOURNAL_SYNC_INTERVAL_MS), [this] { return m_stop; });
        if (m_dirty.exchange(false)) {
            lock.unlock();
            SyncToDisk(m_fd);
            lock.lock();
        }
    }
}

}  // namespace tarvex
