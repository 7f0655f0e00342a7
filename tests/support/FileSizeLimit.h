#pragma once
// A file-size limit of the test's own process makes the next write past it
// fail as a full disk would (EFBIG, its signal ignored). POSIX only.

#include <sys/resource.h>

#include <csignal>

namespace tarvex::test {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldSignal);
    }

private:
    rlimit m_old{};
    void (*m_oldSignal)(int);
};

}  // namespace tarvex::test
