// The key watched on Windows: RegisterHotKey on a thread of its own with
// its own message loop; WM_QUIT ends it.

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "outputs/typing/HotKey.h"

namespace tarvex {

struct CHotKey::Platform {
    DWORD threadId = 0;
    std::thread thread;

    ~Platform() {
        if (!thread.joinable()) return;
        PostThreadMessageW(threadId, WM_QUIT, 0, 0);
        thread.join();
    }
};

CHotKey::CHotKey(std::function<void()> pressed) : m_pressed(std::move(pressed)) {}
CHotKey::~CHotKey() = default;

bool CHotKey::Watch(int functionKey) {
    auto platform = std::make_unique<Platform>();
    std::mutex lock;
    std::condition_variable answered;
    int registered = -1;  // -1 not yet known, 0 no, 1 yes
    Platform* watching = platform.get();
    platform->thread = std::thread([&, watching, this] {
        MSG message;
        // The thread's message queue exists before its id is handed out.
        PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        const bool ok = RegisterHotKey(nullptr, 1, MOD_NOREPEAT, VK_F1 + functionKey - 1) != 0;
        {
            std::lock_guard<std::mutex> guard(lock);
            watching->threadId = GetCurrentThreadId();
            registered = ok ? 1 : 0;
        }
        answered.notify_one();
        if (!ok) return;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            if (message.message == WM_HOTKEY) m_pressed();
        UnregisterHotKey(nullptr, 1);
    });
    {
        std::unique_lock<std::mutex> guard(lock);
        answered.wait(guard, [&] { return registered >= 0; });
    }
    if (registered == 0) {
        platform->thread.join();
        return false;
    }
    m_platform = std::move(platform);
    return true;
}

}  // namespace tarvex
