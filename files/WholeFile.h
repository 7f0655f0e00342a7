#pragma once
// A file written whole or not at all: the bytes go to a file beside it,
// are pushed to the disk and only then take its name, so a crash or a full
// disk leaves the old file or the new one, never half of either. The
// journal, the workbooks, the settings and the UI probe all write so.

#include <filesystem>
#include <functional>
#include <string_view>
#include <system_error>

namespace tarvex {

class CWholeFile {
public:
    struct Options {
        bool privateFile = false;  // for this user alone, locked as the journal is
        bool sync = true;          // false: whole for a reader, not kept through a power cut
        // On Windows the new file keeps the old one's access list and
        // attributes (ReplaceFileW), at the cost of a moment in which a
        // reader may find neither: for files a user may have made private.
        bool keepAccess = false;
    };

    explicit CWholeFile(std::filesystem::path target, Options options);
    ~CWholeFile();  // a file beside that never took the name is removed
    CWholeFile(const CWholeFile&) = delete;
    CWholeFile& operator=(const CWholeFile&) = delete;

    // The file beside, made anew.
    bool Begin();
    bool Write(std::string_view bytes);
    // The first length bytes of another open file, then more may follow.
    bool CopyFrom(int fd, size_t length);
    // Pushed to the disk and put in place; the target's old file is renamed
    // to oldTo first when given. beforeRename runs just before the names
    // change (on Windows an open target cannot be renamed: close it there).
    bool Commit(const std::filesystem::path& oldTo = {}, const std::function<void()>& beforeRename = {});
    // The new file, still open and now the caller's; -1 where it had to be
    // closed to take its name (Windows).
    int TakeFile();

    const std::filesystem::path& Beside() const { return m_beside; }
    // Where the new file is written before it takes the target's name: the
    // target's name with ".part~" after it, for every file the program writes.
    static std::filesystem::path BesideOf(const std::filesystem::path& target);
    // Why the last step failed, in the system's words.
    const std::error_code& Error() const { return m_error; }

private:
    bool Fail(std::error_code error);

    std::filesystem::path m_target;
    std::filesystem::path m_beside;
    Options m_options;
    int m_fd = -1;
    bool m_committed = false;
    std::error_code m_error;
};

// The whole file at once; false with the system's reason in error.
bool WriteWholeFile(const std::filesystem::path& target, std::string_view bytes, CWholeFile::Options options = {},
                    std::error_code* error = nullptr);

}  // namespace tarvex
