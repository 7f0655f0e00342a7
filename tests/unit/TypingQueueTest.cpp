// The typing thread: in order, never into this program, never while a
// modifier is held, and at most QUEUED_TEXTS waiting.

#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/RecordingKeyboard.h"
#include "outputs/typing/HotKey.h"
#include "outputs/typing/TypingQueue.h"

namespace tarvex::test {
namespace {

using namespace std::chrono_literals;

struct Reports {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<TypingReport> all;

    CTypingQueue::Told Sink() {
        return [this](const TypingReport& report) {
            std::lock_guard<std::mutex> guard(lock);
            all.push_back(report);
            changed.notify_all();
        };
    }
    // Waits (10 s at most) for n reports.
    std::vector<TypingReport> WaitFor(size_t n) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait_for(guard, 10s, [&] { return all.size() >= n; });
        return all;
    }
};

TypingJob Job(const std::u32string& text) { return {text, TypedKey::Enter, std::wstring(text.begin(), text.end())}; }

TEST(TypingQueue, WhoHasTheKeyboardDecides) {
    const struct {
        KeyboardHolder holder;
        TypingOutcome outcome;
        size_t typed;
    } cases[] = {
        {KeyboardHolder::Other, TypingOutcome::Typed, 1},
        {KeyboardHolder::OwnWindow, TypingOutcome::OwnWindow, 0},
        {KeyboardHolder::Nobody, TypingOutcome::Nobody, 0},
    };
    for (const auto& c : cases) {
        auto state = std::make_shared<KeyboardState>();
        state->holder = c.holder;
        Reports reports;
        CTypingQueue queue(std::make_unique<CRecordingKeyboard>(state), reports.Sink());
        queue.Add(Job(U"1.2340"));
        const auto told = reports.WaitFor(1);
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].outcome, c.outcome);
        EXPECT_EQ(told[0].shown, L"1.2340");
        EXPECT_EQ(state->Count(), c.typed);
    }
}

TEST(TypingQueue, AModifierHeldThroughTheWaitEndsTheText) {
    auto state = std::make_shared<KeyboardState>();
    state->modifiersHeld = true;
    Reports reports;
    CTypingQueue queue(std::make_unique<CRecordingKeyboard>(state), reports.Sink(), 300ms);
    queue.Add(Job(U"1.2340"));
    const auto told = reports.WaitFor(1);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].outcome, TypingOutcome::ModifiersHeld);
    EXPECT_EQ(state->Count(), 0u);
}

TEST(TypingQueue, AModifierLetGoWithinTheWaitLetsTheTextFollow) {
    auto state = std::make_shared<KeyboardState>();
    state->heldLooks = 3;
    Reports reports;
    CTypingQueue queue(std::make_unique<CRecordingKeyboard>(state), reports.Sink());
    queue.Add(Job(U"2.5000"));
    const auto told = reports.WaitFor(1);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].outcome, TypingOutcome::Typed);
    EXPECT_LE(state->heldLooks.load(), 0);  // it did wait
    std::lock_guard<std::mutex> guard(state->lock);
    EXPECT_EQ(state->typed, (std::vector<std::u32string>{U"2.5000"}));
}

TEST(TypingQueue, BeyondTheLimitTheOldestWaitingGoAndAreCounted) {
    auto state = std::make_shared<KeyboardState>();
    state->paused = true;
    Reports reports;
    CTypingQueue queue(std::make_unique<CRecordingKeyboard>(state), reports.Sink());
    queue.Add(Job(U"0"));
    // The first is being typed: the queue takes the next QUEUED_TEXTS.
    ASSERT_TRUE(state->WaitUntilTyping());
    const int extra = 4;
    for (int i = 1; i <= static_cast<int>(QUEUED_TEXTS) + extra; ++i) queue.Add(Job(std::u32string(1, U'0' + i % 10)));
    state->Resume();
    const auto told = reports.WaitFor(1 + QUEUED_TEXTS + extra);
    size_t dropped = 0, typed = 0;
    for (const TypingReport& report : told) {
        if (report.outcome == TypingOutcome::Dropped) dropped += report.dropped;
        if (report.outcome == TypingOutcome::Typed) ++typed;
    }
    EXPECT_EQ(dropped, static_cast<size_t>(extra));
    EXPECT_EQ(typed, 1 + QUEUED_TEXTS);
    std::lock_guard<std::mutex> guard(state->lock);
    ASSERT_EQ(state->typed.size(), 1 + QUEUED_TEXTS);
    // The newest kept, in order.
    EXPECT_EQ(state->typed[1], std::u32string(1, U'0' + (1 + extra) % 10));
    EXPECT_EQ(state->typed.back(), std::u32string(1, U'0' + (QUEUED_TEXTS + extra) % 10));
}

TEST(FunctionKeyNamed, OnlyKeysThisWindowDoesNotUse) {
    const struct {
        const wchar_t* name;
        std::optional<int> key;
    } cases[] = {
        {L"F9", 9}, {L"f12", 12}, {L"F2", 2}, {L"F24", 24}, {L"F1", {}}, {L"F5", {}},
        {L"F25", {}}, {L"F09", {}}, {L"G9", {}}, {L"F", {}}, {L"", {}}, {L"F9 ", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(FunctionKeyNamed(c.name), c.key) << c.name;
}

}  // namespace
}  // namespace tarvex::test
