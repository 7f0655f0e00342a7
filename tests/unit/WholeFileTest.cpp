// A file written whole or not at all: what is on disk after each way a
// write can end.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "files/WholeFile.h"
#include "tests/support/TempDir.h"

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;

TEST(WholeFile, EachWayAWriteEnds) {
    const struct {
        const char* name;
        bool targetExists;
        std::function<bool(const fs::path& target)> write;
        bool written;
        const char* onDisk;  // the target's bytes afterwards; nullptr: no target
    } cases[] = {
        {"a new file", false, [](const fs::path& t) { return WriteWholeFile(t, "new"); }, true, "new"},
        {"over an old file", true, [](const fs::path& t) { return WriteWholeFile(t, "new"); }, true, "new"},
        {"given up before its commit", true,
         [](const fs::path& t) {
             CWholeFile file(t, {});
             return file.Begin() && file.Write("half") && false;
         },
         false, "old"},
        {"over what a crash left beside", true,
         [](const fs::path& t) {
             std::ofstream(CWholeFile::BesideOf(t), std::ios::binary) << "left by a crash, longer than the new bytes";
             return WriteWholeFile(t, "new");
         },
         true, "new"},
        {"into a folder that is not there", false,
         [](const fs::path& t) { return WriteWholeFile(t.parent_path() / "gone" / "file.ini", "new"); }, false,
         nullptr},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const fs::path target = dir.Path() / "file.ini";
        if (c.targetExists) dir.Write("file.ini", "old");
        EXPECT_EQ(c.write(target), c.written) << c.name;
        if (c.onDisk)
            EXPECT_EQ(TempDir::Read(target), c.onDisk) << c.name;
        else
            EXPECT_FALSE(fs::exists(target)) << c.name;
        // Nothing is ever left beside.
        for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
            EXPECT_EQ(entry.path().filename(), "file.ini") << c.name;
    }
}

TEST(WholeFile, TheOldFileMovesAsideAndAFolderInTheWayIsKept) {
    TempDir dir;
    const fs::path target = dir.Write("journal.txt", "old");
    CWholeFile file(target, {});
    ASSERT_TRUE(file.Begin() && file.Write("new"));
    ASSERT_TRUE(file.Commit(dir.Path() / "journal.old"));
    EXPECT_EQ(TempDir::Read(target), "new");
    EXPECT_EQ(TempDir::Read(dir.Path() / "journal.old"), "old");

    // A folder under the target's name is never replaced; the reason is the system's.
    const fs::path folder = dir.Path() / "taken";
    fs::create_directories(folder / "inside");
    std::error_code error;
    EXPECT_FALSE(WriteWholeFile(folder, "new", {}, &error));
    EXPECT_TRUE(error);
    EXPECT_TRUE(fs::is_directory(folder / "inside"));
    EXPECT_FALSE(fs::exists(CWholeFile::BesideOf(folder)));
}

#ifndef _WIN32
TEST(WholeFile, APrivateFileIsForItsUserAlone) {
    TempDir dir;
    const fs::path target = dir.Path() / "journal.txt";
    ASSERT_TRUE(WriteWholeFile(target, "rows", {true, true}));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}
#endif

}  // namespace
}  // namespace tarvex::test
