#pragma once
// A scale on the far end of a serial line: answers the handshake, sends
// weight frames at a rate or from a script, resends on a repeat request,
// goes on after an acknowledge and falls silent on a stop.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvex::sim {

struct SimFrame {
    enum class Kind { Good, Damaged, Overweight, Split };
    Kind kind = Kind::Good;
    double kilograms = 1.0;
};

// "good:1.234,damaged,over,split:2.5" -> frames; throws std::invalid_argument.
std::vector<SimFrame> ParseScript(const std::string& script);

// The six bytes of a good weight frame for the value.
std::vector<uint8_t> WeightFrameFor(double kilograms);

struct SimStats {
    std::atomic<uint64_t> handshakes{0}, framesSent{0}, acks{0}, repeats{0}, stops{0};
};

class CScaleSimulator {
public:
    struct Options {
        double framesPerSecond = 2.0;   // 0: as fast as acknowledged
        std::vector<SimFrame> script;   // empty: good frames of a slowly changing weight
        bool waitForAck = true;         // the next frame only after 0x9F
    };

    CScaleSimulator(int fd, Options options);
    // Runs until quit is set or the line is gone.
    void Run(const std::atomic<bool>& quit);
    const SimStats& Stats() const { return m_stats; }

private:
    void SendFrame(const SimFrame& frame, bool whole = false);
    void HandleCommand(uint8_t command);
    SimFrame CurrentFrame() const;
    void WriteAll(const std::vector<uint8_t>& bytes);

    int m_fd;
    Options m_options;
    SimStats m_stats;
    bool m_connected = false;
    bool m_awaitingReply = false;
    size_t m_frameIndex = 0;
    std::chrono::steady_clock::time_point m_nextFrameAt;
    std::chrono::steady_clock::time_point m_sentAt;
};

}  // namespace tarvex::sim
