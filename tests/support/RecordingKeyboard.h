#pragma once
// A keyboard that keeps what it is given to type, for the typing's own
// logic; the desktop's keyboards are tested end to end against a real
// program's text field.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "outputs/typing/Keyboard.h"

namespace tarvex::test {

struct KeyboardState {
    std::atomic<KeyboardHolder> holder{KeyboardHolder::Other};
    std::atomic<bool> modifiersHeld{false};
    std::atomic<int> heldLooks{0};    // the next this many looks find a modifier held
    std::atomic<bool> paused{false};  // Type waits while set
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::u32string> typed;
    std::vector<TypedKey> then;
    size_t entered = 0;  // calls of Type so far, waiting ones too

    size_t Count() {
        std::lock_guard<std::mutex> guard(lock);
        return typed.size();
    }
    // Until a call of Type has begun (10 s at most).
    bool WaitUntilTyping() {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(10), [this] { return entered > 0; });
    }
    // Under the lock: Type may be between its look at paused and its wait.
    void Resume() {
        {
            std::lock_guard<std::mutex> guard(lock);
            paused = false;
        }
        changed.notify_all();
    }
};

class CRecordingKeyboard final : public IKeyboard {
public:
    explicit CRecordingKeyboard(std::shared_ptr<KeyboardState> state) : m_state(std::move(state)) {}
    KeyboardHolder Holder() override { return m_state->holder; }
    bool ModifiersHeld() override { return m_state->heldLooks.fetch_sub(1) > 0 || m_state->modifiersHeld; }
    bool Type(std::u32string_view text, TypedKey then) override {
        std::unique_lock<std::mutex> guard(m_state->lock);
        ++m_state->entered;
        m_state->changed.notify_all();
        m_state->changed.wait(guard, [this] { return !m_state->paused; });
        m_state->typed.emplace_back(text);
        m_state->then.push_back(then);
        return true;
    }

private:
    std::shared_ptr<KeyboardState> m_state;
};

}  // namespace tarvex::test
