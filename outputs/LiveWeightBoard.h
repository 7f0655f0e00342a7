#pragma once
// The newest live weight as the feed hands it out: its JSON and a count of
// changes, which stream clients wait on from their own threads.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace tarvex {

class CLiveWeightBoard {
public:
    // A change only: the same JSON again is no news.
    void Post(std::string json);
    // The newest, and its change count; nullopt before the first.
    std::optional<std::string> Newest(uint64_t* version = nullptr) const;
    // Waits until the change count passes seen, at most the time given;
    // false on time-out or stop.
    bool WaitPast(uint64_t seen, std::chrono::milliseconds most);
    void Stop();

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::optional<std::string> m_json;
    uint64_t m_version = 0;
    bool m_stopped = false;
};

}  // namespace tarvex
