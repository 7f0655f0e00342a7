#include "outputs/LiveWeightBoard.h"

namespace tarvex {

void CLiveWeightBoard::Post(std::string json) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_json == json) return;
        m_json = std::move(json);
        ++m_version;
    }
    m_changed.notify_all();
}

std::optional<std::string> CLiveWeightBoard::Newest(uint64_t* version) const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (version) *version = m_version;
    return m_json;
}

bool CLiveWeightBoard::WaitPast(uint64_t seen, std::chrono::milliseconds most) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, most, [&] { return m_version > seen || m_stopped; }) && !m_stopped;
}

void CLiveWeightBoard::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopped = true;
    }
    m_changed.notify_all();
}

}  // namespace tarvex
