#pragma once
// A stand-in for the window thread: runs what the driver hands over, one
// task at a time, on a thread of its own, and records the notifications.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/SerialOwner.h"

namespace tarvex::test {

class OwnerThread : public ISerialOwner {
public:
    OwnerThread() : m_thread([this] { Run(); }) {}
    ~OwnerThread() override {
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_quit = true;
            m_gateOpen = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    void PostToOwner(std::function<void()> work) override {
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_tasks.push_back(std::move(work));
        }
        m_changed.notify_all();
    }
    bool OnOwnerThread() const override { return std::this_thread::get_id() == m_thread.get_id(); }

    void OnSerialData(const uint8_t* bytes, int count) override {
        std::unique_lock<std::mutex> lock(m_lock);
        bursts.emplace_back(bytes, bytes + count);
        m_changed.notify_all();
        // A closed gate holds the hand-off, as a busy window would.
        m_changed.wait(lock, [this] { return m_gateOpen; });
        if (onData) onData();
    }
    void ShowPortError(const std::wstring& text, const std::wstring& caption) override {
        std::lock_guard<std::mutex> g(m_lock);
        errors.push_back(caption + L"|" + text);
        m_changed.notify_all();
    }
    void OnPortRemoved(unsigned port) override {
        std::lock_guard<std::mutex> g(m_lock);
        removed.push_back(port);
        m_changed.notify_all();
    }

    void OnPortUnreached(unsigned port) override {
        std::lock_guard<std::mutex> g(m_lock);
        unreached.push_back(port);
        m_changed.notify_all();
    }
    void OnLineSettingsKept(unsigned, const std::wstring& settings) override {
        std::lock_guard<std::mutex> g(m_lock);
        settingsKept.push_back(settings);
        m_changed.notify_all();
    }

    void SetGate(bool open) {
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_gateOpen = open;
        }
        m_changed.notify_all();
    }

    // Waits until the condition on the recorded state holds, or the time is up.
    bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), condition);
    }
    template <typename T>
    T Read(const std::function<T()>& get) {
        std::lock_guard<std::mutex> g(m_lock);
        return get();
    }

    std::vector<std::vector<uint8_t>> bursts;
    std::vector<std::wstring> errors;
    std::vector<unsigned> removed;
    std::vector<unsigned> unreached;
    std::vector<std::wstring> settingsKept;
    std::function<void()> onData;  // runs on the owner thread after each burst

private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_lock);
        while (!m_quit) {
            m_changed.wait(lock, [this] { return m_quit || !m_tasks.empty(); });
            while (!m_tasks.empty()) {
                auto task = std::move(m_tasks.front());
                m_tasks.pop_front();
                lock.unlock();
                task();
                lock.lock();
            }
        }
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_tasks;
    bool m_quit = false;
    bool m_gateOpen = true;
    std::thread m_thread;
};

}  // namespace tarvex::test
