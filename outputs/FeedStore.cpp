#include "outputs/FeedStore.h"

#include <algorithm>

namespace tarvex {

void CFeedStore::Add(uint64_t seq, std::string json) {
    FeedEntry entry;
    entry.seq = seq;
    std::string event = "id: " + std::to_string(seq) + "\nevent: reading\ndata: ";
    entry.jsonAt = event.size();
    entry.jsonLength = json.size();
    event += json;
    event += "\n\n";
    entry.event = std::make_shared<const std::string>(std::move(event));
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_entries.empty() && seq <= m_entries.back().seq) m_entries.clear();
        m_entries.push_back(std::move(entry));
        while (m_entries.size() > m_kept) m_entries.pop_front();
    }
    m_added.notify_all();
}

std::optional<FeedEntry> CFeedStore::Latest() const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_entries.empty()) return std::nullopt;
    return m_entries.back();
}

size_t CFeedStore::FirstAfter(uint64_t after) const {
    const auto first = std::upper_bound(m_entries.begin(), m_entries.end(), after,
                                        [](uint64_t seq, const FeedEntry& entry) { return seq < entry.seq; });
    return static_cast<size_t>(first - m_entries.begin());
}

std::vector<FeedEntry> CFeedStore::After(uint64_t after, size_t most) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<FeedEntry> found;
    for (size_t i = FirstAfter(after); i < m_entries.size() && found.size() < most; ++i) found.push_back(m_entries[i]);
    return found;
}

uint64_t CFeedStore::LastSeq() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_entries.empty() ? 0 : m_entries.back().seq;
}

bool CFeedStore::WaitAfter(uint64_t after, std::chrono::milliseconds most) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_added.wait_for(lock, most, [&] {
        return m_stopped || (!m_entries.empty() && m_entries.back().seq > after);
    }) && !m_stopped;
}

void CFeedStore::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopped = true;
    }
    m_added.notify_all();
}

bool CFeedStore::Stopped() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_stopped;
}

}  // namespace tarvex
