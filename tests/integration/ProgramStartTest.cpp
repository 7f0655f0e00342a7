// Starts the built program itself from the build tree, waits for its window
// to come up with the English title, and closes it as a window manager would.

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "simulator/PseudoTerminal.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::optional<Window> FindWindowNamed(Display* display, Window parent, const std::string& title) {
    Window root, parentOut, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent, &root, &parentOut, &children, &count)) return std::nullopt;
    std::optional<Window> found;
    for (unsigned i = 0; i < count && !found; ++i) {
        char* name = nullptr;
        if (XFetchName(display, children[i], &name) && name) {
            if (title == name) found = children[i];
            XFree(name);
        }
        if (!found) found = FindWindowNamed(display, children[i], title);
    }
    if (children) XFree(children);
    return found;
}

void SendDeleteWindow(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

TEST(ProgramStart, WindowComesUpWithEnglishTitleAndCloses) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "no X display";
    // The built program with the build tree's languages, in a folder of its
    // own whose "Setting.ini" maps COM1 to a pty and no real device.
    tarvex::test::TempDir dir;
    tarvex::sim::CPseudoTerminal scale;
    const auto program = dir.Path() / "tarvex-scale";
    const auto built = std::filesystem::path(TARVEX_PROGRAM);
    std::filesystem::copy_file(built, program);
    std::filesystem::copy(built.parent_path() / "Language", dir.Path() / "Language",
                          std::filesystem::copy_options::recursive);
    // The shipped settings: the build tree's own may have been changed by a user.
    std::string setting =
        tarvex::test::TempDir::Read(std::filesystem::path(TARVEX_RESOURCES_DIR) / "Setting.ini");
    setting += "\n[Serial_Ports]\nDefaults=off\nCOM1=" + scale.DevicePath() + "\n";
    dir.Write("Setting.ini", setting);

    // The user's own folders (journal, settings) inside the test's folder.
    std::vector<std::string> variables{"HOME=" + dir.Path().string()};
    for (char** e = environ; *e; ++e) {
        const std::string_view v(*e);
        if (v.rfind("HOME=", 0) != 0 && v.rfind("XDG_DATA_HOME=", 0) != 0 && v.rfind("XDG_CONFIG_HOME=", 0) != 0)
            variables.emplace_back(v);
    }
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()), 0);

    std::optional<Window> window;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!window && Clock::now() < deadline) {
        window = FindWindowNamed(display, DefaultRootWindow(display), "Tarvex Scale");
        if (!window) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(window.has_value()) << "no window titled \"Tarvex Scale\" came up";
    int status = 0;
    pid_t done = 0;
    const auto exitDeadline = Clock::now() + std::chrono::seconds(20);
    auto nextClose = Clock::now();
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < exitDeadline) {
        // A window found the moment it is created may not take the request
        // yet; ask again until the program ends.
        if (window && Clock::now() >= nextClose) {
            window = FindWindowNamed(display, DefaultRootWindow(display), "Tarvex Scale");
            if (window) SendDeleteWindow(display, *window);
            nextClose = Clock::now() + std::chrono::milliseconds(500);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "the program did not end after its window was closed";
    } else {
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    XCloseDisplay(display);
}

}  // namespace
