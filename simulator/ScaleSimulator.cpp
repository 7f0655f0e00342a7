#include "simulator/ScaleSimulator.h"

#include "simulator/LineRead.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
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

std::vector<uint8_t> HexBytes(const std::string& hex) {
    if (hex.empty() || hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw std::invalid_argument("not bytes in hex: " + hex);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

Clock::duration Seconds(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
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
        const std::string value = colon == std::string::npos ? "" : item.substr(colon + 1);
        SimFrame f;
        if (kind == "bytes") {
            f.kind = SimFrame::Kind::Bytes;
            f.bytes = HexBytes(value);
            frames.push_back(f);
            continue;
        }
        if (colon != std::string::npos) {
            try {
                f.kilograms = std::stod(value);
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
    : m_fd(fd), m_options(std::move(options)), m_rate(m_options.framesPerSecond), m_limit(m_options.limit), m_nextFrameAt(Clock::now()) {}

void CScaleSimulator::Attach(int fd) {
    m_fd = fd;
    m_connected = false;
    m_awaitingReply = false;
    m_frameDue = false;
    m_last.clear();
}

std::vector<uint8_t> CScaleSimulator::NextFrameBytes() {
    const uint64_t index = m_stats.framesSent.load();
    SimFrame frame;
    if (!m_options.script.empty())
        frame = m_options.script[index % m_options.script.size()];
    else
        frame.kilograms = 0.5 + static_cast<double>(index % 200) * 0.125;
    m_lastKind = frame.kind;
    switch (frame.kind) {
        case SimFrame::Kind::Bytes:
            return frame.bytes;
        case SimFrame::Kind::Overweight:
            return {0x3F, 0x00, 0x00, 0x00, 0x00, 0x3F};
        case SimFrame::Kind::Damaged: {
            std::vector<uint8_t> bytes = WeightFrameFor(frame.kilograms);
            bytes[5] ^= 0x01;
            return bytes;
        }
        case SimFrame::Kind::Good:
        case SimFrame::Kind::Split:
            break;
    }
    return WeightFrameFor(frame.kilograms);
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

void CScaleSimulator::WriteInPieces(const std::vector<uint8_t>& bytes) {
    // As a USB adapter on a busy machine hands a frame over.
    if (bytes.size() < 3) { WriteAll(bytes); return; }
    std::vector<size_t> cuts;
    std::uniform_int_distribution<size_t> at(1, bytes.size() - 1);
    const size_t pieces = std::uniform_int_distribution<int>(2, 3)(m_random);
    while (cuts.size() < pieces - 1) {
        const size_t cut = at(m_random);
        if (std::find(cuts.begin(), cuts.end(), cut) == cuts.end()) cuts.push_back(cut);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(bytes.size());
    std::uniform_int_distribution<int> pauseUs(1000, 10000);
    size_t from = 0;
    Clock::time_point last;
    for (const size_t to : cuts) {
        if (from > 0) {
            std::this_thread::sleep_for(m_options.pieceGapMs > 0 ? std::chrono::microseconds(m_options.pieceGapMs * 1000)
                                                                 : std::chrono::microseconds(pauseUs(m_random)));
            if (Clock::now() - last > std::chrono::milliseconds(40)) ++m_stats.latePieces;
        }
        WriteAll({bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to)});
        last = Clock::now();
        from = to;
    }
}

void CScaleSimulator::SendFrame() {
    const std::vector<uint8_t> bytes = NextFrameBytes();
    if (m_lastKind == SimFrame::Kind::Split) {
        WriteAll({bytes.begin(), bytes.begin() + 3});
        // Long enough apart that the program reads two pieces of one frame.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        WriteAll({bytes.begin() + 3, bytes.end()});
    } else if (m_options.inPieces) {
        WriteInPieces(bytes);
    } else {
        WriteAll(bytes);
    }
    ++m_stats.framesSent;
    m_last = bytes;
    m_sentAt = Clock::now();
    if (m_options.waitForAck) {
        m_awaitingReply = true;
        m_frameDue = false;
    } else {
        ScheduleNext();
    }
}

void CScaleSimulator::Resend() {
    // A split frame is resent in one piece, as a real scale resends it.
    if (m_options.inPieces && m_lastKind != SimFrame::Kind::Split)
        WriteInPieces(m_last);
    else
        WriteAll(m_last);
    m_sentAt = Clock::now();
}

void CScaleSimulator::ScheduleNext() {
    const double rate = m_rate.load();
    m_frameDue = true;
    m_nextFrameAt = Clock::now() + (rate > 0 ? Seconds(1.0 / rate) : Clock::duration::zero());
}

void CScaleSimulator::HandleCommand(uint8_t command) {
    switch (command) {
        case 0x5A:
            ++m_stats.handshakes;
            WriteAll({0xA5});
            m_connected = true;
            m_awaitingReply = false;
            ScheduleNext();
            break;
        case 0x9F:
            ++m_stats.acks;
            m_awaitingReply = false;
            if (m_connected) ScheduleNext();
            break;
        case 0xF9:
            ++m_stats.repeats;
            if (m_connected && !m_last.empty()) Resend();
            break;
        case 0x3A:
            ++m_stats.stops;
            m_connected = false;
            m_awaitingReply = false;
            m_frameDue = false;
            break;
        default:
            break;
    }
}

void CScaleSimulator::Run(const std::atomic<bool>& quit) {
    while (!quit.load()) {
        int waitMs = 100;
        const auto now = Clock::now();
        if (m_connected && m_awaitingReply && m_options.resendUnanswered && now - m_sentAt > std::chrono::seconds(1))
            Resend();
        const uint64_t limit = m_limit.load();
        const bool withinLimit = limit == 0 || m_stats.framesSent.load() < limit;
        if (m_connected && m_frameDue && withinLimit) {
            if (now >= m_nextFrameAt) {
                SendFrame();
                continue;
            }
            waitMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                m_nextFrameAt - now).count()) + 1;
        }
        uint8_t buf[64];
        const long n = ReadSome(m_fd, buf, sizeof buf, std::min(waitMs, 100));
        if (n < 0) return;
        for (long i = 0; i < n; ++i) HandleCommand(buf[i]);
    }
}

}  // namespace tarvex::sim
