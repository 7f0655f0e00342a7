// The scale simulator that every test with a scale uses (the C++ tests in a
// thread, the Python ones through tarvex-scale-sim --control), seen from the
// program's end of its pty.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "simulator/PseudoTerminal.h"
#include "simulator/ScaleSimulator.h"

namespace tarvex::test {
namespace {

using Bytes = std::vector<uint8_t>;
using sim::CScaleSimulator;

TEST(SimulatorScript, ReadsEveryKindAndRefusesWhatItCannotSend) {
    const auto frames = sim::ParseScript("good:1.5,damaged,over,split:2,bytes:5f3F00");
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0].kilograms, 1.5);
    EXPECT_EQ(frames[2].kind, sim::SimFrame::Kind::Overweight);
    EXPECT_EQ(frames[4].kind, sim::SimFrame::Kind::Bytes);
    EXPECT_EQ(frames[4].bytes, (Bytes{0x5F, 0x3F, 0x00}));
    for (const char* bad : {"bytes:", "bytes:5", "bytes:5G", "good:heavy", "light:1"})
        EXPECT_THROW(sim::ParseScript(bad), std::invalid_argument) << bad;
}

// The program's end of the line: raw, read with a time limit.
class ProgramEnd {
public:
    explicit ProgramEnd(const std::string& device) : m_fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        termios tio{};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~ProgramEnd() { ::close(m_fd); }
    void Say(uint8_t command) { ASSERT_EQ(::write(m_fd, &command, 1), 1); }
    // Exactly `count` bytes, or what came before the time ran out.
    Bytes Hear(size_t count, int timeoutMs = 5000) {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            uint8_t b[64];
            const ssize_t n = ::read(m_fd, b, std::min(sizeof b, count - got.size()));
            if (n > 0) got.insert(got.end(), b, b + n);
        }
        return got;
    }

private:
    int m_fd;
};

class SimulatorLine : public ::testing::Test {
protected:
    void Start(CScaleSimulator::Options options) {
        sim = std::make_unique<CScaleSimulator>(pty.Fd(), std::move(options));
        thread = std::thread([this] { sim->Run(quit); });
    }
    void TearDown() override {
        quit = true;
        if (thread.joinable()) thread.join();
    }
    sim::CPseudoTerminal pty{true};
    ProgramEnd program{pty.DevicePath()};
    std::unique_ptr<CScaleSimulator> sim;
    std::atomic<bool> quit{false};
    std::thread thread;
};

TEST_F(SimulatorLine, ScriptedFramesInPiecesUpToTheLimitAndARepeatSaysTheLastAgain) {
    const Bytes noise{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    CScaleSimulator::Options options;
    options.framesPerSecond = 0;
    options.script = {sim::SimFrame{sim::SimFrame::Kind::Bytes, 0, noise}, sim::SimFrame{}};
    options.inPieces = true;
    options.limit = 3;
    options.resendUnanswered = false;
    Start(options);
    program.Say(0x5A);
    EXPECT_EQ(program.Hear(1 + noise.size()), (Bytes{0xA5, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}));
    program.Say(0xF9);
    EXPECT_EQ(program.Hear(noise.size()), noise);
    program.Say(0x9F);
    EXPECT_EQ(program.Hear(6), sim::WeightFrameFor(1.0));
    program.Say(0x9F);
    EXPECT_EQ(program.Hear(noise.size()), noise);
    // The limit reached: an acknowledge brings nothing more.
    program.Say(0x9F);
    EXPECT_EQ(program.Hear(1, 300), Bytes{});
    EXPECT_EQ(sim->Stats().framesSent, 3u);
    EXPECT_EQ(sim->Stats().repeats, 1u);
}

TEST_F(SimulatorLine, AStopSilencesItAndARateChangeHoldsTheNextFrame) {
    CScaleSimulator::Options options;
    options.framesPerSecond = 0;
    options.script = sim::ParseScript("good:2.5");
    Start(options);
    program.Say(0x5A);
    EXPECT_EQ(program.Hear(7).size(), 7u);
    sim->SetRate(0.01);  // a frame a hundred seconds
    program.Say(0x9F);
    EXPECT_EQ(program.Hear(1, 300), Bytes{});
    program.Say(0x3A);
    sim->SetRate(0);
    program.Say(0x9F);  // an acknowledge after the stop starts nothing
    EXPECT_EQ(program.Hear(1, 300), Bytes{});
    program.Say(0x5A);
    const Bytes expected = [] {
        Bytes b{0xA5};
        const Bytes frame = sim::WeightFrameFor(2.5);
        b.insert(b.end(), frame.begin(), frame.end());
        return b;
    }();
    EXPECT_EQ(program.Hear(7), expected);
    EXPECT_EQ(sim->Stats().stops, 1u);
    EXPECT_EQ(sim->Stats().handshakes, 2u);
}

}  // namespace
}  // namespace tarvex::test
