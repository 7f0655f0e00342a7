#include "outputs/QueuedOutput.h"

#include <algorithm>
#include <chrono>

namespace tarvex {

CQueuedOutput::CQueuedOutput(ISlowOutput& output, size_t capacity, ReadFrom readFrom, Post post)
    : m_output(output), m_capacity(capacity > 0 ? capacity : 1), m_readFrom(std::move(readFrom)),
      m_post(std::move(post)), m_thread([this] { Run(); }) {}

CQueuedOutput::~CQueuedOutput() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lifetime.End();  // no catch-up posted to the window's thread runs after this
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

bool CQueuedOutput::Push(Item item) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_queue.size() >= m_capacity) return false;
        m_queue.push_back(std::move(item));
    }
    m_wake.notify_one();
    return true;
}

void CQueuedOutput::ReadingAdded(const AddedReading& reading) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_missingFrom != 0) return;  // it comes with the catching up, in order
    }
    Item item{Item::Kind::Reading, reading.Record(), {}, false};
    if (Push(std::move(item))) return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_missingFrom = reading.Record().seq;
}

void CQueuedOutput::RowsCleared(const ClearedRows& cleared) {
    // Events other than readings are dropped with a full queue: what a
    // reading is does not depend on them.
    Push(Item{Item::Kind::Cleared, {}, cleared, false});
}

void CQueuedOutput::LinkStateChanged(bool connected) { Push(Item{Item::Kind::Link, {}, {}, connected}); }

void CQueuedOutput::ReadingsHeldBack(uint64_t seq) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_missingFrom == 0 || seq < m_missingFrom) m_missingFrom = seq;
    }
    CatchUp();
}

void CQueuedOutput::CatchUp() {
    uint64_t from = 0;
    size_t room = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_catchUpPosted = false;
        from = m_missingFrom;
        room = m_capacity - std::min(m_capacity, m_queue.size());
    }
    if (from == 0 || room == 0) return;
    const std::vector<RowRecord> rows = m_readFrom(from, room);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const RowRecord& row : rows) m_queue.push_back(Item{Item::Kind::Reading, row, {}, false});
        // Fewer than there was room for: the journal has no more.
        m_missingFrom = rows.size() < room ? 0 : rows.back().seq + 1;
    }
    m_wake.notify_one();
}

size_t CQueuedOutput::DeliverFront(std::unique_lock<std::mutex>& lock) {
    const Item front = m_queue.front();
    if (front.kind == Item::Kind::Reading) {
        std::vector<RowRecord> readings;
        const size_t most = std::max<size_t>(1, m_output.BatchSize());
        for (size_t i = 0; i < m_queue.size() && readings.size() < most; ++i) {
            if (m_queue[i].kind != Item::Kind::Reading) break;
            readings.push_back(m_queue[i].reading);
        }
        lock.unlock();
        const size_t done = most == 1 ? (m_output.Deliver(readings.front()) ? 1 : 0) : m_output.DeliverMany(readings);
        lock.lock();
        if (done > 0) m_confirmed = readings[done - 1].seq;
        return done;
    }
    lock.unlock();
    if (front.kind == Item::Kind::Cleared)
        m_output.Cleared(front.cleared);
    else
        m_output.LinkState(front.connected);
    lock.lock();
    return 1;
}

void CQueuedOutput::Run() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        const bool waiting =
            m_wake.wait_for(lock, std::chrono::seconds(1), [this] { return m_stopping || !m_queue.empty(); });
        if (m_stopping) return;
        if (!waiting) {
            lock.unlock();
            m_output.Idle();
            lock.lock();
            continue;
        }
        const size_t done = DeliverFront(lock);
        if (done == 0) {
            m_wake.wait_for(lock, m_output.RetryPause(), [this] { return m_stopping; });
            continue;
        }
        m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(done));
        // Room again after a gap: the window's thread reads the journal.
        if (m_missingFrom != 0 && m_queue.size() <= m_capacity / 2 && !m_catchUpPosted && m_post) {
            m_catchUpPosted = true;
            m_post([this, alive = m_lifetime.Watch()] {
                if (alive.Alive()) CatchUp();
            });
        }
    }
}

uint64_t CQueuedOutput::Confirmed() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_confirmed;
}

bool CQueuedOutput::Behind() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return !m_queue.empty() || m_missingFrom != 0;
}

uint64_t CQueuedOutput::FirstWaiting() const {
    std::lock_guard<std::mutex> guard(m_lock);
    uint64_t first = m_missingFrom;
    for (const Item& item : m_queue) {
        if (item.kind != Item::Kind::Reading) continue;
        if (first == 0 || item.reading.seq < first) first = item.reading.seq;
        break;  // the queue is in seq order
    }
    return first;
}

}  // namespace tarvex
