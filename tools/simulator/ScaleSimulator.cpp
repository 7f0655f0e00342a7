#include "ScaleSimulator.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tarvex::sim {
namespace {

using Clock = std::chrono::steady_clock;

uint8_t CheckByte(const std::vector<uint8_t>& f) {
    return static_cast<uint8_t>(f[0] ^ f[1] ^ f[2] ^ f[3] ^ f[4]);
}

}  // namespace

std::vector<SimFrame> ParseScript(const std::string& script) {
    std::vector<SimFrame> frames;
    std::stringstream in(script);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item.empty()) continue;
        const size_t colon = item.find(':');
        const std::string kind = item.substr(0, colon);
        SimFrame f;
        if (colon != std::string::npos) {
            try {
                f.kilograms = std::stod(item.substr(colon + 1));
            } catch (const std::exception&) {
                throw std::invalid_argument("not a weight: " + item);
            }
        }
        if (kind == "good") f.kind = SimFrame::Kind::Good;
        else if (kind == "damaged") f.kind = SimFrame::Kind::Damaged;
        else if (kind == "over") f.kind = SimFrame::Kind::Overweight;
        else if (kind == "split") f.kind = SimFrame::Kind::Split;
        else throw std::invalid_argument("unknown frame kind: " + kind);
        frames.push_back(f);
    }
    return frames;
}

std::vector<uint8_t> WeightFrameFor(double kilograms) {
    const double magnitude = std::fabs(kilograms);
    // The finest decimal code whose magnitude still fits five digits.
    uint8_t code = 8;
    double scaled = magnitude * 1000;
    if (scaled >= 100000) { code = 4; scaled = magnitude * 100; }
    if (scaled >= 100000) { code = 2; scaled = magnitude * 10; }
    const auto raw = static_cast<uint32_t>(std::lround(std::min(scaled, 99999.0)));
    std::vector<uint8_t> f{0x5F, static_cast<uint8_t>((kilograms < 0 ? 0x40 : 0x00) | code),
                           static_cast<uint8_t>(raw >> 16), static_cast<uint8_t>(raw >> 8),
                           static_cast<uint8_t>(raw)};
    f.push_back(CheckByte(f));
    return f;
}

CScaleSimulator::CScaleSimulator(int fd, Options options)
    : m_fd(fd), m_options(std::move(options)), m_nextFrameAt(Clock::now()) {}

SimFrame CScaleSimulator::CurrentFrame() const {
    if (!m_options.script.empty()) return m_options.script[m_frameIndex % m_options.script.size()];
    SimFrame f;
    f.kilograms = 0.5 + static_cast<double>(m_frameIndex % 200) * 0.125;
    return f;
}

void CScaleSimulator::WriteAll(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (put > 0) { done += static_cast<size_t>(put); continue; }
        if (put < 0 && errno != EAGAIN && errno != EINTR) return;
        pollfd p{m_fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
}

void CScaleSimulator::SendFrame(const SimFrame& frame, bool whole) {
    std::vector<uint8_t> bytes;
    switch (frame.kind) {
        case SimFrame::Kind::Good:
        case SimFrame::Kind::Split:
            bytes = WeightFrameFor(frame.kilograms);
            break;
        case SimFrame::Kind::Damaged:
            bytes = WeightFrameFor(frame.kilograms);
            bytes[5] ^= 0x01;
            break;
        case SimFrame::Kind::Overweight:
            bytes = {0x3F, 0x00, 0x00, 0x00, 0x00, 0x3F};
            break;
    }
    if (frame.kind == SimFrame::Kind::Split && !whole) {
        WriteAll({bytes.begin(), bytes.begin() + 3});
        // Long enough apart that the program reads two pieces of one frame.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        WriteAll({bytes.begin() + 3, bytes.end()});
    } else {
        WriteAll(bytes);
    }
    ++m_stats.framesSent;
    m_awaitingReply = m_options.waitForAck;
    m_sentAt = Clock::now();
}

void CScaleSimulator::HandleCommand(uint8_t command) {
    switch (command) {
        case 0x5A:
            ++m_stats.handshakes;
            WriteAll({0xA5});
            m_connected = true;
            m_awaitingReply = false;
            m_nextFrameAt = Clock::now() + std::chrono::milliseconds(50);
            break;
        case 0x9F: {
            ++m_stats.acks;
            m_awaitingReply = false;
            ++m_frameIndex;
            const double rate = m_options.framesPerSecond;
            m_nextFrameAt = Clock::now() + (rate > 0 ? std::chrono::duration_cast<Clock::duration>(
                                                           std::chrono::duration<double>(1.0 / rate))
                                                     : Clock::duration::zero());
            break;
        }
        case 0xF9:
            ++m_stats.repeats;
            // A repeat goes out in one piece, as a real scale resends it.
            if (m_connected) SendFrame(CurrentFrame(), true);
            break;
        case 0x3A:
            ++m_stats.stops;
            m_connected = false;
            m_awaitingReply = false;
            break;
        default:
            break;
    }
}

void CScaleSimulator::Run(const std::atomic<bool>& quit) {
    while (!quit.load()) {
        int waitMs = 100;
        // Nobody answered for a second: say it again.
        if (m_connected && m_awaitingReply && Clock::now() - m_sentAt > std::chrono::seconds(1))
            SendFrame(CurrentFrame(), true);
        if (m_connected && !m_awaitingReply) {
            const auto now = Clock::now();
            if (now >= m_nextFrameAt) {
                SendFrame(CurrentFrame());
                if (!m_options.waitForAck) {
                    ++m_frameIndex;
                    m_nextFrameAt = now + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(1.0 / std::max(m_options.framesPerSecond, 0.001)));
                }
                continue;
            }
            waitMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                m_nextFrameAt - now).count()) + 1;
        }
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, std::min(waitMs, 100));
        if (ready < 0 && errno != EINTR) return;
        if (ready <= 0) continue;
        if (!(p.revents & POLLIN)) {
            // Nobody has the port open yet (or any more): wait for someone.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        uint8_t buf[64];
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR || errno == EIO)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            return;
        }
        for (ssize_t i = 0; i < n; ++i) HandleCommand(buf[i]);
    }
}

}  // namespace tarvex::sim
