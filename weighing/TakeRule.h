#pragma once
// Which of a scale's live weights become readings. A live weight is shown
// and never kept; a reading is a row. By the settle rule a row comes when
// the weight has stood stable at one value for the settle time, above zero,
// and the scale has been at zero or in motion since the last row: one row
// per parcel, none for an empty scale, none while it wobbles or is over
// capacity. By the key rule the clerk asks: the stable weight now, or the
// next within KEY_WAIT_MS. Times are the caller's milliseconds.

#include <cstdint>
#include <optional>
#include <string>

#include "weighing/protocols/ScaleProtocol.h"

namespace tarvex {

enum class TakeMode { Settle, Key, Both };
// "settle", "key", "both"; nullopt for anything else.
std::optional<TakeMode> TakeModeNamed(std::string_view name);

constexpr int64_t DEFAULT_SETTLE_MS = 500;
constexpr int64_t KEY_WAIT_MS = 3000;

struct LiveWeight {
    std::string digits;  // as the scale sent them
    std::string unit;
    double kilograms = 0;
    ScaleStatus status;
};

// What became of the clerk's ask for a weight that did not come in time.
enum class KeyOutcome { InMotion, OverCapacity, UnderZero, NoWeight };

class CTakeRule {
public:
    CTakeRule(TakeMode mode, int64_t settleMs) : m_mode(mode), m_settleMs(settleMs) {}

    // A weight as the scale gave it at now; the weight to take as a row, if any.
    std::optional<LiveWeight> Offer(const LiveWeight& weight, int64_t now);
    // The scale gave no weight (no answer, a status alone, unreadable).
    void NoWeight(int64_t now);
    // Between answers: the weight that has now stood its settle time, if
    // any, so a row waits for no further poll.
    std::optional<LiveWeight> Tick(int64_t now);
    // When the weight standing now will have stood its settle time; nullopt
    // when none is on its way to a row.
    std::optional<int64_t> SettleDue() const {
        if (!Settles() || !m_armed || !m_stable) return std::nullopt;
        return m_stableSince + m_settleMs;
    }
    // The clerk asks for the weight; taken at once when it stands stable now.
    std::optional<LiveWeight> Ask(int64_t now);
    // An ask that found no stable weight in KEY_WAIT_MS ends here, once: why.
    std::optional<KeyOutcome> AskExpired(int64_t now);
    bool Asking() const { return m_askedAt.has_value(); }

private:
    bool Settles() const { return m_mode != TakeMode::Key; }
    std::optional<LiveWeight> Take();

    const TakeMode m_mode;
    const int64_t m_settleMs;
    // A parcel may be taken: the scale was at zero or in motion since the last row.
    bool m_armed = true;
    std::optional<LiveWeight> m_stable;  // the stable weight above zero now standing
    int64_t m_stableSince = 0;
    std::optional<int64_t> m_askedAt;
    KeyOutcome m_lastTrouble = KeyOutcome::NoWeight;
};

}  // namespace tarvex
