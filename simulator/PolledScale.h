#pragma once
// A scale that is asked for its weight (MT-SICS, Toledo 8217, NCI) or
// prints it (ASCII lines), on the far end of a serial line. Parcels are put
// on and taken off by the test driving it; it answers polls, zero and tare
// as the scale would.

#include <atomic>
#include <mutex>
#include <string>

#include "simulator/Platter.h"
#include "simulator/ScaleAnswers.h"

namespace tarvex::sim {

class CPolledScale {
public:
    struct Options {
        Protocol protocol = Protocol::MtSics;
        std::string unit = "kg";
        bool parityBits = false;  // a 7E1 scale read as 8 bits
        int printEveryMs = 200;   // ASCII: a line this often without being asked; 0: only when asked
    };

    CPolledScale(int fd, Options options) : m_fd(fd), m_options(std::move(options)) {}
    // Runs until quit is set or the line is gone.
    void Run(const std::atomic<bool>& quit);
    // What stands on the platter from now on; safe while Run runs.
    void Put(double kilograms);
    AnswerCounts Counts();
    void Attach(int fd) { m_fd = fd; }

private:
    void Send(const std::string& bytes);

    int m_fd;
    const Options m_options;
    std::mutex m_lock;  // the platter and the counts
    CPlatter m_platter;
    AnswerCounts m_counts;
};

}  // namespace tarvex::sim
