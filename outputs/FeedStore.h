#pragma once
// The feed's recent readings as JSON, shared by every client: the window's
// thread adds, the clients' threads read and wait. Nothing is kept per
// client, so a client that falls behind costs no memory here; it reads
// on by seq from where it is.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

// At least the last 65 000 readings can be read again by seq.
constexpr size_t FEED_KEPT_READINGS = 65536;

// One reading, made once as the stream's event and shared by every
// client: "id: <seq>\nevent: reading\ndata: <json>\n\n".
struct FeedEntry {
    uint64_t seq = 0;
    std::shared_ptr<const std::string> event;
    size_t jsonAt = 0;
    size_t jsonLength = 0;
    std::string_view Json() const { return std::string_view(*event).substr(jsonAt, jsonLength); }
    const std::string& Event() const { return *event; }
};

class CFeedStore {
public:
    explicit CFeedStore(size_t kept = FEED_KEPT_READINGS) : m_kept(kept) {}

    // Readings come with rising seqs; a lower one means the desk's count
    // began again, and what was kept goes.
    void Add(uint64_t seq, std::string json);
    std::optional<FeedEntry> Latest() const;
    // At most most readings with a seq above after, oldest first.
    std::vector<FeedEntry> After(uint64_t after, size_t most) const;
    uint64_t LastSeq() const;
    // Until a reading above after is here, Stop() or the time is over;
    // true when one is.
    bool WaitAfter(uint64_t after, std::chrono::milliseconds most);

    void Stop();
    bool Stopped() const;

private:
    size_t FirstAfter(uint64_t after) const;  // under the lock

    const size_t m_kept;
    mutable std::mutex m_lock;
    std::condition_variable m_added;
    std::deque<FeedEntry> m_entries;
    bool m_stopped = false;
};

}  // namespace tarvex
