#include "files/FileCalls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <aclapi.h>
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

namespace tarvex {

#ifdef _WIN32
int OpenLockedAs(const std::filesystem::path& path, bool writable) {
    int fd = -1;
    // Denying other writers is the lock: a second copy gets EACCES.
    const int mode = writable ? _O_RDWR | _O_CREAT | _O_APPEND : _O_RDONLY;
    if (::_wsopen_s(&fd, path.c_str(), mode | _O_BINARY | _O_NOINHERIT, _SH_DENYWR, _S_IREAD | _S_IWRITE) != 0)
        return -1;
    return fd;
}
bool IsRegularFile(int fd) {
    struct _stat64 status {};
    return ::_fstat64(fd, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
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
int OpenShared(const std::filesystem::path& path) {
    int fd = -1;
    if (::_wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _SH_DENYWR,
                    _S_IREAD | _S_IWRITE) != 0)
        return -1;
    return fd;
}
int OpenToAppendAs(const std::filesystem::path& path) {
    int fd = -1;
    if (::_wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                    _S_IREAD | _S_IWRITE) != 0)
        return -1;
    return fd;
}
#else
int OpenToAppendAs(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return -1;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}
int OpenLockedAs(const std::filesystem::path& path, bool writable) {
    // Not blocking: a pipe or a device in the journal's place must not
    // hold up the start; it is refused below.
    const int mode = writable ? O_RDWR | O_CREAT | O_APPEND : O_RDONLY;
    const int fd = ::open(path.c_str(), mode | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) return -1;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}
bool IsRegularFile(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
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
int OpenShared(const std::filesystem::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
#endif

namespace {
int PlainFileOnly(int fd) {
    if (fd < 0 || IsRegularFile(fd)) return fd;
    CloseFile(fd);
    errno = NOT_A_FILE;
    return -1;
}
}  // namespace

int OpenLocked(const std::filesystem::path& path, bool writable) { return PlainFileOnly(OpenLockedAs(path, writable)); }
int OpenToAppend(const std::filesystem::path& path) { return PlainFileOnly(OpenToAppendAs(path)); }

#ifdef _WIN32
bool OthersMayRead(const std::filesystem::path& path) {
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                                nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool readable = acl == nullptr;  // no list at all: anyone may do anything
    for (DWORD i = 0; acl && i < acl->AceCount && !readable; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!::GetAce(acl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        if (!(ace->Mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL))) continue;
        PSID sid = &ace->SidStart;
        for (const WELL_KNOWN_SID_TYPE many : {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid})
            readable = readable || ::IsWellKnownSid(sid, many);
    }
    ::LocalFree(descriptor);
    return readable;
}
#else
bool OthersMayRead(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
}
#endif

bool IsReadOnlyError(int error) { return error == EROFS || error == EACCES || error == EPERM; }

bool WriteAll(int fd, std::string_view bytes, size_t* done) {
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

constexpr size_t READ_PIECE = 1 << 20;

bool ReadPieces(int fd, const std::function<bool(std::string_view)>& take, size_t length) {
    std::vector<char> buffer(READ_PIECE);
    long long offset = 0;
    while (static_cast<size_t>(offset) < length) {
        const size_t wanted = std::min(buffer.size(), length - static_cast<size_t>(offset));
        const long got = ReadAt(fd, buffer.data(), wanted, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (!take(std::string_view(buffer.data(), static_cast<size_t>(got)))) return false;
        offset += got;
    }
    return true;
}

std::FILE* OpenStream(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
    return _wfopen(path.c_str(), std::wstring(mode, mode + std::strlen(mode)).c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

}  // namespace tarvex
