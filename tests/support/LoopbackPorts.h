#pragma once
// Loopback ports for tests of network peers: one free, whether one is
// listened on, and one that answers nothing.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tarvex::test {

// A loopback port nobody listens on at the moment.
inline int FreeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

// Whether something listens on the loopback port, read from the kernel's
// table rather than by connecting (a one-client server would count that).
inline bool Listening(int port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) return true;
    }
    return false;
}

// A loopback port that takes no new connection and refuses none: its
// listener's queue is full, so further connects wait as on a dead network.
class BlackholedPort {
public:
    BlackholedPort() {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listener, 0);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &length);
        m_port = ntohs(a.sin_port);
        // Fill the queue: the first completes, the rest wait, unanswered.
        for (int i = 0; i < 2; ++i) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            m_fillers.push_back(c);
        }
    }
    ~BlackholedPort() {
        for (const int c : m_fillers) ::close(c);
        ::close(m_listener);
    }
    int Port() const { return m_port; }
    std::string Entry() const { return "socket://127.0.0.1:" + std::to_string(m_port); }

private:
    int m_listener;
    int m_port = 0;
    std::vector<int> m_fillers;
};

}  // namespace tarvex::test
