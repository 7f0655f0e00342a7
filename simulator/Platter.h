#pragma once
// The weight on a simulated scale's platter: a parcel put on or taken off
// sways for a while before it settles; zero and tare work as on a scale
// (refused while it sways); beyond its capacity it is over.

#include <chrono>
#include <optional>

namespace tarvex::sim {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds SWAY_TIME{600};

struct PlatterState {
    double kilograms = 0;  // net: what stands on it less zero and tare
    bool motion = false;
    bool over = false;
    bool under = false;
    bool atZero = false;
};

class CPlatter {
public:
    explicit CPlatter(double capacityKilograms = 30.0) : m_capacity(capacityKilograms) {}

    void Put(double kilograms, Clock::time_point now);  // what stands on it from now on
    PlatterState State(Clock::time_point now) const;
    // False (nothing changes) while it sways or is over.
    bool Zero(Clock::time_point now);
    // The tare taken, or nullopt while it sways or is over.
    std::optional<double> Tare(Clock::time_point now);

private:
    double m_capacity;
    double m_load = 0;    // gross, above the zero
    double m_zero = 0;    // taken off by Zero
    double m_tare = 0;
    Clock::time_point m_changedAt{};
};

}  // namespace tarvex::sim
