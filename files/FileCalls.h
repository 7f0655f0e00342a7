#pragma once
// The few file calls the program's own files need, the same on both
// systems: descriptors, errno, and a lock that keeps a second writer out.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string_view>

namespace tarvex {

// errno of a path that is not a plain file (a device, a pipe, a folder).
#ifdef EFTYPE
constexpr int NOT_A_FILE = EFTYPE;
#else
constexpr int NOT_A_FILE = EINVAL;
#endif

// Opens (and creates, writable) a plain file only this process may write
// while it is open; -1 with errno otherwise (NOT_A_FILE for a device).
int OpenLocked(const std::filesystem::path& path, bool writable = true);
// A new file, which must not exist yet: for this user alone, or as the
// user's files usually are (OpenShared).
int OpenNew(const std::filesystem::path& path);
int OpenShared(const std::filesystem::path& path);
// For adding to the end of a file other programs may hold open, read and
// write (created when missing); -1 with errno while one holds it for
// itself alone (on Linux: an exclusive flock) or it is not a plain file.
int OpenToAppend(const std::filesystem::path& path);
bool IsReadOnlyError(int error);
// Whether users other than the file's owner may read it: on Linux its
// group or others have the read bit; on Windows its access list lets
// everyone, all users or all signed-in users read it.
bool OthersMayRead(const std::filesystem::path& path);
// A C stream on any path (on Windows by its wide name); nullptr with errno.
std::FILE* OpenStream(const std::filesystem::path& path, const char* mode);

// False with errno set when the bytes could not all be written; *done then
// says how many were.
bool WriteAll(int fd, std::string_view bytes, size_t* done = nullptr);
// Hands the file's first length bytes (all of it by default) to take, a
// piece at a time; false with errno set when a read failed.
bool ReadPieces(int fd, const std::function<bool(std::string_view)>& take, size_t length = SIZE_MAX);
bool SyncToDisk(int fd);
bool TruncateTo(int fd, size_t length);
long long FileLength(int fd);
void CloseFile(int fd);

}  // namespace tarvex
