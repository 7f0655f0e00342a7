#pragma once
// A scale that is asked for its weight or streams it, on the window's
// thread and without I/O: the bytes it sent become its live weight, the
// rows the take rule chose, and what became of a zero, a tare or the
// clerk's weigh key. Times are the caller's milliseconds.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "weighing/TakeRule.h"
#include "weighing/protocols/ScaleProtocol.h"

namespace tarvex {

// What became of a zero or a tare.
struct CommandOutcome {
    ScaleCommand command = ScaleCommand::Zero;
    bool done = false;
    KeyOutcome why = KeyOutcome::NoWeight;  // not done: in motion, over, under, or refused (NoWeight)
};

struct LiveNews {
    bool confirmed = false;               // an answer of this protocol came
    bool liveChanged = false;             // the live weight or its state changed
    std::vector<LiveWeight> taken;        // rows to add, in order
    std::optional<CommandOutcome> outcome;
    std::optional<KeyOutcome> weighFailed;  // the weigh key found no stable weight in time
};

// A zero or tare the scale does not answer by itself is judged by the
// second weight after it (the first may have been on its way already).
constexpr int WEIGHTS_BEFORE_JUDGING = 2;
// A command left without any outcome this long was not heard.
constexpr int64_t COMMAND_WAIT_MS = 3000;

class CLiveScale {
public:
    CLiveScale(std::unique_ptr<IScaleProtocol> protocol, TakeMode mode, int64_t settleMs);

    const IScaleProtocol& Protocol() const { return *m_protocol; }
    LiveNews Feed(const uint8_t* bytes, int count, int64_t now);
    // The line fell quiet: an unfinished answer is unreadable.
    LiveNews Flush(int64_t now);
    // The bytes of the command, now awaiting its outcome; empty when the
    // protocol has none.
    std::string Send(ScaleCommand command, int64_t now);
    // The clerk's weigh key.
    LiveNews Weigh(int64_t now);
    // Waits that ran out: the weigh key's, a command's.
    LiveNews Tick(int64_t now);
    // A link ends or begins: nothing is known of the scale.
    void Reset();

    // The newest weight or state; nullopt before the first or once the scale
    // stopped answering.
    const std::optional<LiveWeight>& Live() const { return m_live; }
    // When a settling weight is due as a row, so it is taken on time between answers.
    std::optional<int64_t> SettleDue() const { return m_rule.SettleDue(); }

private:
    void Take(const ScaleAnswer& answer, int64_t now, LiveNews& news);
    void ShowLive(std::optional<LiveWeight> live, LiveNews& news);
    void JudgeCommand(const LiveWeight& weight, LiveNews& news);
    void EndCommand(bool done, KeyOutcome why, LiveNews& news);

    std::unique_ptr<IScaleProtocol> m_protocol;
    CTakeRule m_rule;
    std::optional<LiveWeight> m_live;
    std::optional<ScaleCommand> m_pending;  // a zero or tare awaiting its outcome
    int64_t m_pendingSince = 0;
    int m_weightsSincePending = 0;
    bool m_refused = false;  // the scale said no; the next weight says why
    std::vector<ScaleAnswer> m_answers;  // reused
};

// Why, as the rule or the scale said it.
KeyOutcome TroubleOf(const ScaleStatus& status, double kilograms);

}  // namespace tarvex
