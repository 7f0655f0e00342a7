#include "simulator/Platter.h"

#include <cmath>

namespace tarvex::sim {

void CPlatter::Put(double kilograms, Clock::time_point now) {
    m_load = kilograms;
    m_changedAt = now;
}

PlatterState CPlatter::State(Clock::time_point now) const {
    PlatterState state;
    const bool swaying = now - m_changedAt < SWAY_TIME;
    const double gross = m_load - m_zero;
    state.kilograms = gross - m_tare;
    state.over = m_load > m_capacity;
    state.motion = swaying && !state.over;
    if (state.motion) {
        // Halfway there, give or take: what a swaying platter shows.
        const double share = std::chrono::duration<double>(now - m_changedAt) / SWAY_TIME;
        state.kilograms *= 0.5 + 0.5 * share;
    }
    state.under = gross < -0.0005;
    state.atZero = !state.motion && std::fabs(state.kilograms) < 0.0005;
    return state;
}

bool CPlatter::Zero(Clock::time_point now) {
    const PlatterState state = State(now);
    if (state.motion || state.over) return false;
    m_zero = m_load;
    m_tare = 0;
    return true;
}

std::optional<double> CPlatter::Tare(Clock::time_point now) {
    const PlatterState state = State(now);
    if (state.motion || state.over) return std::nullopt;
    m_tare = m_load - m_zero;
    return m_tare;
}

}  // namespace tarvex::sim
