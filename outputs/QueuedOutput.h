#pragma once
// The ready helper for an output that does slow work (a socket, a file that
// may be locked, a database, typing): the window's thread only queues, a
// thread of the output's own delivers. When the queue is full the output
// loses its place, never a reading: it comes back from the journal by seq
// once it has room again.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "outputs/Lifetime.h"
#include "outputs/ReadingOutput.h"

namespace tarvex {

// What the output's own thread is handed.
class ISlowOutput {
public:
    virtual ~ISlowOutput() = default;
    // True once the reading has gone where it goes; false to be handed it
    // again later (after a pause of the output's choosing).
    virtual bool Deliver(const RowRecord& reading) = 0;
    // An output that sends several at once (a database) says how many; it
    // is then handed up to that many waiting readings in seq order and
    // answers how many of the first of them went.
    virtual size_t BatchSize() const { return 1; }
    virtual size_t DeliverMany(const std::vector<RowRecord>& readings) {
        size_t done = 0;
        while (done < readings.size() && Deliver(readings[done])) ++done;
        return done;
    }
    // How long after a false from Deliver the reading is handed over again.
    virtual std::chrono::milliseconds RetryPause() const { return std::chrono::milliseconds(500); }
    // After a second with nothing to hand over.
    virtual void Idle() {}
    virtual void Cleared(const ClearedRows&) {}
    virtual void LinkState(bool) {}
};

class CQueuedOutput : public IReadingOutput {
public:
    // Readings of the desk from seq on, at most this many, oldest first.
    using ReadFrom = std::function<std::vector<RowRecord>(uint64_t seq, size_t most)>;
    // Runs work on the window's thread later.
    using Post = std::function<void(std::function<void()>)>;

    CQueuedOutput(ISlowOutput& output, size_t capacity, ReadFrom readFrom, Post post);
    ~CQueuedOutput() override;
    CQueuedOutput(const CQueuedOutput&) = delete;
    CQueuedOutput& operator=(const CQueuedOutput&) = delete;

    void ReadingAdded(const AddedReading& reading) override;
    void RowsCleared(const ClearedRows& cleared) override;
    void LinkStateChanged(bool connected) override;
    void ReadingsHeldBack(uint64_t seq) override;

    // The highest seq delivered with every one before it; 0 for none.
    uint64_t Confirmed() const;
    // Readings queued or waiting in the journal.
    bool Behind() const;
    // The first of them; 0 when none waits.
    uint64_t FirstWaiting() const;

private:
    struct Item {
        enum class Kind { Reading, Cleared, Link } kind;
        RowRecord reading;
        ClearedRows cleared;
        bool connected = false;
    };
    bool Push(Item item);  // false when the queue is full
    // Hands the front of the queue over; how many items went.
    size_t DeliverFront(std::unique_lock<std::mutex>& lock);
    void CatchUp();        // window thread: from the journal, as room allows
    void Run();

    ISlowOutput& m_output;
    const size_t m_capacity;
    ReadFrom m_readFrom;
    Post m_post;
    mutable std::mutex m_lock;
    // The thread's waits end on m_stopping, set under the lock: not on a
    // std::stop_token, whose callbacks wait on a semaphore that MinGW's GCC 12
    // can leave asleep for ever (seen here under Wine: a destructor that never
    // returned).
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::deque<Item> m_queue;
    uint64_t m_missingFrom = 0;  // the first reading not queued; 0 when none is missing
    uint64_t m_confirmed = 0;
    bool m_catchUpPosted = false;
    // Work posted to the window's thread runs only while this output lives.
    CLifetime m_lifetime;
    std::jthread m_thread;
};

}  // namespace tarvex
