#pragma once
// The typing thread: texts handed over on the window's thread are typed in
// order into the program in front, never into this program's own windows
// and never while the clerk holds a modifier (so no weight fires a
// shortcut). At most QUEUED_TEXTS wait; beyond that the oldest go.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "outputs/typing/Keyboard.h"

namespace tarvex {

constexpr size_t QUEUED_TEXTS = 20;
constexpr std::chrono::milliseconds MODIFIER_WAIT{2000};

struct TypingJob {
    std::u32string text;
    TypedKey then = TypedKey::Enter;
    std::wstring shown;  // the text as the status line names it
};

enum class TypingOutcome { Typed, OwnWindow, Nobody, ModifiersHeld, Refused, Dropped };

struct TypingReport {
    TypingOutcome outcome = TypingOutcome::Typed;
    std::wstring shown;  // of the job
    size_t dropped = 0;  // with Dropped: how many went unread
};

class CTypingQueue {
public:
    // told runs on the typing thread, after each job and for each drop.
    using Told = std::function<void(const TypingReport&)>;
    CTypingQueue(std::unique_ptr<IKeyboard> keyboard, Told told,
                 std::chrono::milliseconds modifierWait = MODIFIER_WAIT);
    ~CTypingQueue();
    CTypingQueue(const CTypingQueue&) = delete;
    CTypingQueue& operator=(const CTypingQueue&) = delete;

    void Add(TypingJob job);

private:
    void Run();
    // False when the modifiers stayed down the whole wait, or on stop.
    bool WaitForModifiers(std::unique_lock<std::mutex>& lock);
    TypingOutcome TypeOne(const TypingJob& job, std::unique_lock<std::mutex>& lock);

    std::unique_ptr<IKeyboard> m_keyboard;
    Told m_told;
    const std::chrono::milliseconds m_modifierWait;
    std::mutex m_lock;
    // The thread's waits end on m_stopping, set under the lock: not on a
    // std::stop_token, whose callbacks wait on a semaphore that MinGW's GCC 12
    // can leave asleep for ever (seen here under Wine: a destructor that never
    // returned).
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::deque<TypingJob> m_jobs;
    std::jthread m_thread;
};

}  // namespace tarvex
