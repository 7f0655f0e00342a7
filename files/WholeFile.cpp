#include "files/WholeFile.h"

#include <cstdio>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "files/FileCalls.h"

namespace tarvex {
namespace {

std::error_code Errno(int fallback = EIO) { return {errno ? errno : fallback, std::generic_category()}; }

// The name moves to another file, replacing what had it.
std::error_code Rename(const std::filesystem::path& from, const std::filesystem::path& to) {
#ifdef _WIN32
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return {};
    return {static_cast<int>(::GetLastError()), std::system_category()};
#else
    if (std::rename(from.c_str(), to.c_str()) == 0) return {};
    return Errno();
#endif
}

// The new file takes the name of the old one, keeping the old one's access
// list and attributes on Windows, as a rename would not.
std::error_code PutInPlaceKeepingAccess(const std::filesystem::path& from, const std::filesystem::path& to) {
#ifdef _WIN32
    // Only a file is replaced so: Wine's ReplaceFileW would put a file in a
    // folder's place, the folder and all in it gone. The rename refuses.
    const DWORD attributes = ::GetFileAttributesW(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (::ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
            return {};
        return {static_cast<int>(::GetLastError()), std::system_category()};
    }
#endif
    return Rename(from, to);
}

}  // namespace

std::filesystem::path CWholeFile::BesideOf(const std::filesystem::path& target) {
    std::filesystem::path beside = target;
    beside += ".part~";
    return beside;
}

CWholeFile::CWholeFile(std::filesystem::path target, Options options)
    : m_target(std::move(target)), m_beside(BesideOf(m_target)), m_options(options) {}

CWholeFile::~CWholeFile() {
    if (m_fd >= 0) CloseFile(m_fd);
    if (!m_committed) {
        std::error_code ignored;
        std::filesystem::remove(m_beside, ignored);
    }
}

bool CWholeFile::Fail(std::error_code error) {
    m_error = error;
    if (m_fd >= 0) CloseFile(m_fd);
    m_fd = -1;
    std::error_code ignored;
    std::filesystem::remove(m_beside, ignored);
    return false;
}

bool CWholeFile::Begin() {
    // What a write cut short by a crash left beside is of no use.
    std::error_code ignored;
    std::filesystem::remove(m_beside, ignored);
    errno = 0;
    m_fd = m_options.privateFile ? OpenLocked(m_beside) : OpenShared(m_beside);
    return m_fd >= 0 || Fail(Errno(EACCES));
}

bool CWholeFile::Write(std::string_view bytes) {
    if (m_fd < 0) return false;
    errno = 0;
    return WriteAll(m_fd, bytes) || Fail(Errno(ENOSPC));
}

bool CWholeFile::CopyFrom(int fd, size_t length) {
    if (m_fd < 0) return false;
    errno = 0;
    return ReadPieces(fd, [this](std::string_view piece) { return WriteAll(m_fd, piece); }, length) ||
           Fail(Errno());
}

bool CWholeFile::Commit(const std::filesystem::path& oldTo, const std::function<void()>& beforeRename) {
    if (m_fd < 0) return false;
    errno = 0;
    if (m_options.sync && !SyncToDisk(m_fd)) return Fail(Errno());
#ifdef _WIN32
    CloseFile(m_fd);
    m_fd = -1;
#endif
    if (beforeRename) beforeRename();
    if (!oldTo.empty()) {
        if (const std::error_code moved = Rename(m_target, oldTo)) return Fail(moved);
    }
    const bool keepAccess = m_options.keepAccess && oldTo.empty();
    if (const std::error_code placed =
            keepAccess ? PutInPlaceKeepingAccess(m_beside, m_target) : Rename(m_beside, m_target)) {
        if (!oldTo.empty()) Rename(oldTo, m_target);
        return Fail(placed);
    }
    m_committed = true;
    return true;
}

int CWholeFile::TakeFile() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

bool WriteWholeFile(const std::filesystem::path& target, std::string_view bytes, CWholeFile::Options options,
                    std::error_code* error) {
    CWholeFile file(target, options);
    const bool written = file.Begin() && file.Write(bytes) && file.Commit();
    if (!written && error) *error = file.Error();
    return written;
}

}  // namespace tarvex
