#include "simulator/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace tarvex::sim {

CPseudoTerminal::CPseudoTerminal(bool holdDevice) {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        throw std::runtime_error("no pseudo-terminal available");
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
    m_devicePath = name;
    // A fresh pty echoes and turns CR into LF: make it a plain byte pipe
    // before anything is written.
    termios tio{};
    ::tcgetattr(m_master, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_master, TCSANOW, &tio);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (holdDevice) m_device = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
}

CPseudoTerminal::~CPseudoTerminal() { Unplug(); }

void CPseudoTerminal::Unplug() {
    for (int* fd : {&m_device, &m_master}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void CPseudoTerminal::Send(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size() && m_master >= 0) {
        const ssize_t put = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
        } else if (put < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

std::vector<uint8_t> CPseudoTerminal::Receive(int timeoutMs, size_t atLeast) {
    std::vector<uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_master >= 0 && got.size() < atLeast) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        if (!(p.revents & POLLIN)) {
            // Nobody holds the device open: nothing can arrive; wait out the time.
            ::poll(nullptr, 0, static_cast<int>(std::min<long long>(left, 5)));
            continue;
        }
        uint8_t buf[256];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) got.insert(got.end(), buf, buf + n);
    }
    return got;
}

}  // namespace tarvex::sim
