#pragma once
// The few socket calls a network line and the probe make, with one name on
// both systems: BSD sockets on POSIX, Winsock on Windows.

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace tarvex::sockets {

using Clock = std::chrono::steady_clock;

#ifdef _WIN32
using Socket = SOCKET;
inline const intptr_t NO_SOCKET = static_cast<intptr_t>(INVALID_SOCKET);
constexpr int WOULD_BLOCK = WSAEWOULDBLOCK;
constexpr int CONNECT_PENDING = WSAEWOULDBLOCK;
constexpr int CONNECTION_ENDED = WSAECONNRESET;
constexpr int TIMED_OUT = WSAETIMEDOUT;
constexpr int SEND_FLAGS = 0;
inline int LastError() { return ::WSAGetLastError(); }
inline void CloseSocket(intptr_t s) { ::closesocket(static_cast<Socket>(s)); }
inline bool StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
inline bool SetNonBlocking(intptr_t s) {
    u_long on = 1;
    return ::ioctlsocket(static_cast<Socket>(s), FIONBIO, &on) == 0;
}
inline int Waiting(intptr_t s) {
    u_long count = 0;
    return ::ioctlsocket(static_cast<Socket>(s), FIONREAD, &count) == 0 ? static_cast<int>(count) : -1;
}
#else
using Socket = int;
inline const intptr_t NO_SOCKET = -1;
constexpr int WOULD_BLOCK = EAGAIN;
constexpr int CONNECT_PENDING = EINPROGRESS;
constexpr int CONNECTION_ENDED = ECONNRESET;
constexpr int TIMED_OUT = ETIMEDOUT;
constexpr int SEND_FLAGS = MSG_NOSIGNAL;
inline int LastError() { return errno == EWOULDBLOCK ? EAGAIN : errno; }
inline void CloseSocket(intptr_t s) { ::close(static_cast<Socket>(s)); }
inline bool StartSockets() { return true; }
inline bool SetNonBlocking(intptr_t s) {
    const int flags = ::fcntl(static_cast<Socket>(s), F_GETFL);
    return flags >= 0 && ::fcntl(static_cast<Socket>(s), F_SETFL, flags | O_NONBLOCK) == 0;
}
inline int Waiting(intptr_t s) {
    int count = 0;
    return ::ioctl(static_cast<Socket>(s), FIONREAD, &count) == 0 ? count : -1;
}
#endif

inline Socket AsSocket(intptr_t s) { return static_cast<Socket>(s); }

inline int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace tarvex::sockets
