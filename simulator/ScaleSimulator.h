#pragma once
// A scale on the far end of a serial line: answers the handshake, sends
// weight frames at a rate or from a script, resends on a repeat request,
// goes on after an acknowledge and falls silent on a stop. The C++ tests
// run it in a thread; the Python tests drive the same code through
// tarvex-scale-sim --control.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tarvex::sim {

struct SimFrame {
    enum class Kind { Good, Damaged, Overweight, Split, Bytes };
    Kind kind = Kind::Good;
    double kilograms = 1.0;
    std::vector<uint8_t> bytes;  // Kind::Bytes: sent as they are
};

// "good:1.234,damaged,over,split:2.5,bytes:5F0800102F78" -> frames;
// throws std::invalid_argument.
std::vector<SimFrame> ParseScript(const std::string& script);

// The six bytes of a good weight frame for the value.
std::vector<uint8_t> WeightFrameFor(double kilograms);

struct SimStats {
    std::atomic<uint64_t> handshakes{0}, framesSent{0}, acks{0}, repeats{0}, stops{0};
    // Pieces of a frame that left more than 40 ms after the piece before:
    // a pause the program is right to take for the end of a frame.
    std::atomic<uint64_t> latePieces{0};
};

class CScaleSimulator {
public:
    struct Options {
        double framesPerSecond = 2.0;      // 0: as fast as acknowledged
        std::vector<SimFrame> script;      // empty: good frames of a slowly changing weight
        bool waitForAck = true;            // the next frame only after 0x9F
        bool resendUnanswered = true;      // say a frame again after a second without an answer
        bool inPieces = false;             // every frame in two or three pieces 1-10 ms apart
        int pieceGapMs = 0;                // the pieces this far apart instead (a network hop that pauses)
        uint64_t limit = 0;                // frames sent at most, then silence; 0: no limit
    };

    CScaleSimulator(int fd, Options options);
    // Runs until quit is set or the line is gone.
    void Run(const std::atomic<bool>& quit);
    const SimStats& Stats() const { return m_stats; }
    // Takes effect from the next frame scheduled; safe while Run runs.
    void SetRate(double framesPerSecond) { m_rate.store(framesPerSecond); }
    // Frames sent at most from the start, from now on; 0: no limit.
    void SetLimit(uint64_t frames) { m_limit.store(frames); }
    // A new line (a device plugged in again), not connected; only while Run is not running.
    void Attach(int fd);

private:
    std::vector<uint8_t> NextFrameBytes();
    void SendFrame();
    void Resend();
    void HandleCommand(uint8_t command);
    void ScheduleNext();
    void WriteAll(const std::vector<uint8_t>& bytes);
    void WriteInPieces(const std::vector<uint8_t>& bytes);

    int m_fd;
    Options m_options;
    std::atomic<double> m_rate;
    std::atomic<uint64_t> m_limit;
    SimStats m_stats;
    std::mt19937 m_random{20261208};
    bool m_connected = false;
    bool m_awaitingReply = false;
    bool m_frameDue = false;
    std::vector<uint8_t> m_last;       // the frame a repeat request asks for
    SimFrame::Kind m_lastKind = SimFrame::Kind::Good;
    std::chrono::steady_clock::time_point m_nextFrameAt;
    std::chrono::steady_clock::time_point m_sentAt;
};

}  // namespace tarvex::sim
