#include "weighing/TakeRule.h"

namespace tarvex {

std::optional<TakeMode> TakeModeNamed(std::string_view name) {
    if (name == "settle") return TakeMode::Settle;
    if (name == "key") return TakeMode::Key;
    if (name == "both") return TakeMode::Both;
    return std::nullopt;
}

std::optional<LiveWeight> CTakeRule::Take() {
    m_armed = false;
    m_askedAt.reset();
    return m_stable;
}

std::optional<LiveWeight> CTakeRule::Offer(const LiveWeight& weight, int64_t now) {
    const ScaleStatus& status = weight.status;
    if (status.motion || status.over || status.under || status.fault || status.atZero || weight.kilograms <= 0) {
        m_stable.reset();
        if (status.motion || status.atZero || (weight.kilograms == 0 && !status.over && !status.fault))
            m_armed = true;
        m_lastTrouble = status.motion ? KeyOutcome::InMotion
                        : status.over ? KeyOutcome::OverCapacity
                        : status.under || weight.kilograms < 0 ? KeyOutcome::UnderZero
                                                               : KeyOutcome::NoWeight;
        return std::nullopt;
    }
    if (!m_stable || m_stable->digits != weight.digits || m_stable->unit != weight.unit) {
        m_stable = weight;
        m_stableSince = now;
    }
    if (m_askedAt && now - *m_askedAt <= KEY_WAIT_MS) return Take();
    return Tick(now);
}

std::optional<LiveWeight> CTakeRule::Tick(int64_t now) {
    if (Settles() && m_armed && m_stable && now - m_stableSince >= m_settleMs) return Take();
    return std::nullopt;
}

void CTakeRule::NoWeight(int64_t) {
    m_stable.reset();
    m_lastTrouble = KeyOutcome::NoWeight;
}

std::optional<LiveWeight> CTakeRule::Ask(int64_t now) {
    if (m_stable) return Take();
    m_askedAt = now;
    return std::nullopt;
}

std::optional<KeyOutcome> CTakeRule::AskExpired(int64_t now) {
    if (!m_askedAt || now - *m_askedAt < KEY_WAIT_MS) return std::nullopt;
    m_askedAt.reset();
    return m_lastTrouble;
}

}  // namespace tarvex
