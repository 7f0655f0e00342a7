#include "simulator/PolledScale.h"

#include <unistd.h>

#include <cerrno>

#include "simulator/LineRead.h"

namespace tarvex::sim {

void CPolledScale::Put(double kilograms) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_platter.Put(kilograms, Clock::now());
}

AnswerCounts CPolledScale::Counts() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_counts;
}

void CPolledScale::Send(const std::string& bytes) {
    const std::string sent = m_options.parityBits ? WithParityBits(bytes) : bytes;
    size_t done = 0;
    while (done < sent.size()) {
        const ssize_t n = ::write(m_fd, sent.data() + done, sent.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nobody reads: the answer is lost, as on a wire
        done += static_cast<size_t>(n);
    }
}

void CPolledScale::Run(const std::atomic<bool>& quit) {
    CCommandCutter cutter(m_options.protocol);
    const bool prints = m_options.protocol == Protocol::Ascii && m_options.printEveryMs > 0;
    auto nextPrint = Clock::now();
    while (!quit.load()) {
        if (prints && Clock::now() >= nextPrint) {
            std::string line;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                line = PrintedLine(m_platter.State(Clock::now()), m_options.unit);
            }
            Send(line);
            nextPrint += std::chrono::milliseconds(m_options.printEveryMs);
        }
        uint8_t bytes[64];
        const long n = ReadSome(m_fd, bytes, sizeof bytes, prints ? 20 : 100);
        if (n < 0) return;
        for (const std::string& command : cutter.Feed(std::string_view(reinterpret_cast<char*>(bytes), n))) {
            std::string answer;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                answer = AnswerTo(m_options.protocol, command, m_platter, Clock::now(), m_options.unit, m_counts);
            }
            Send(answer);
        }
    }
}

}  // namespace tarvex::sim
