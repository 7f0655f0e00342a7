#include "outputs/typing/TypingQueue.h"

namespace tarvex {
namespace {

// How often a held modifier is looked at again.
constexpr std::chrono::milliseconds MODIFIER_POLL{10};

}  // namespace

CTypingQueue::CTypingQueue(std::unique_ptr<IKeyboard> keyboard, Told told, std::chrono::milliseconds modifierWait)
    : m_keyboard(std::move(keyboard)), m_told(std::move(told)), m_modifierWait(modifierWait),
      m_thread([this] { Run(); }) {}

CTypingQueue::~CTypingQueue() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CTypingQueue::Add(TypingJob job) {
    size_t dropped = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_jobs.push_back(std::move(job));
        while (m_jobs.size() > QUEUED_TEXTS) {
            m_jobs.pop_front();
            ++dropped;
        }
    }
    m_wake.notify_one();
    if (dropped > 0) m_told({TypingOutcome::Dropped, {}, dropped});
}

void CTypingQueue::Run() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_stopping) return;
        const TypingJob job = std::move(m_jobs.front());
        m_jobs.pop_front();
        const TypingOutcome outcome = TypeOne(job, lock);
        if (m_stopping) return;
        lock.unlock();
        m_told({outcome, job.shown, 0});
        lock.lock();
    }
}

bool CTypingQueue::WaitForModifiers(std::unique_lock<std::mutex>& lock) {
    const auto deadline = std::chrono::steady_clock::now() + m_modifierWait;
    for (;;) {
        lock.unlock();
        const bool held = m_keyboard->ModifiersHeld();
        lock.lock();
        if (!held) return true;
        if (m_stopping || std::chrono::steady_clock::now() >= deadline) return false;
        m_wake.wait_for(lock, MODIFIER_POLL, [this] { return m_stopping; });
    }
}

TypingOutcome CTypingQueue::TypeOne(const TypingJob& job, std::unique_lock<std::mutex>& lock) {
    if (!WaitForModifiers(lock)) return TypingOutcome::ModifiersHeld;
    lock.unlock();
    // Who has the keyboard is asked last, just before the keys go.
    TypingOutcome outcome = TypingOutcome::Typed;
    switch (m_keyboard->Holder()) {
        case KeyboardHolder::OwnWindow: outcome = TypingOutcome::OwnWindow; break;
        case KeyboardHolder::Nobody: outcome = TypingOutcome::Nobody; break;
        case KeyboardHolder::Other:
            if (!m_keyboard->Type(job.text, job.then)) outcome = TypingOutcome::Refused;
            break;
    }
    lock.lock();
    return outcome;
}

}  // namespace tarvex
