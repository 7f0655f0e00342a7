// A network line: BSD sockets with poll on POSIX, Winsock with
// WSAEventSelect and WaitForMultipleObjects on Windows.

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "serial/AddressLookup.h"
#include "serial/SocketCalls.h"
#include "serial/SocketLine.h"

namespace tarvex {

using namespace sockets;

namespace {

// How long closing waits for the server to close its side.
constexpr int CLOSE_BOUND_MS = 200;
// What one read takes from the socket at most.
constexpr size_t READ_PIECE = 4096;

}  // namespace

CSocketLine::CSocketLine(NetworkAddress address) : m_address(std::move(address)), m_socket(NO_SOCKET) {
    if (m_address.kind == NetworkAddress::Kind::Rfc2217) m_telnet = std::make_unique<CComPortTelnet>();
}

CSocketLine::~CSocketLine() { CloseWithinBound(); }

const LineSteps& CSocketLine::Steps() const {
#ifdef _WIN32
    static const LineSteps steps{"WaitForMultipleObjects()", "recv()", "send()"};
#else
    static const LineSteps steps{"poll()", "recv()", "send()"};
#endif
    return steps;
}

void CSocketLine::CloseWithinBound() {
    if (m_socket == NO_SOCKET) return;
    // What was written goes out, then the end of the link; a server that
    // closes its side in answer is waited for, within the bound.
#ifdef _WIN32
    ::shutdown(AsSocket(m_socket), SD_SEND);
#else
    ::shutdown(AsSocket(m_socket), SHUT_WR);
#endif
    const auto deadline = Clock::now() + std::chrono::milliseconds(CLOSE_BOUND_MS);
    for (;;) {
        int error = 0;
        const int left = MillisecondsLeft(deadline);
        if (left == 0 || m_closed || WaitSocket(nullptr, nullptr, false, left, error) != Wake::Readable) break;
        uint8_t discard[READ_PIECE];
        const auto got = ::recv(AsSocket(m_socket), reinterpret_cast<char*>(discard), sizeof discard, 0);
        if (got == 0 || (got < 0 && LastError() != WOULD_BLOCK)) break;
    }
    CloseSocket(m_socket);
    m_socket = NO_SOCKET;
#ifdef _WIN32
    if (m_netEvent) ::CloseHandle(reinterpret_cast<HANDLE>(m_netEvent));
    m_netEvent = 0;
#endif
}

bool CSocketLine::Reach(const platform::CWaitEvent& stop) {
    if (!StartSockets()) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(NETWORK_CONNECT_LIMIT_MS);
    if (!Connect(stop, MillisecondsLeft(deadline))) return false;
    SetLinkOptions();
    // Until it is reached the line is the reader's alone: no lock is taken,
    // and the window's questions get "nothing waiting" meanwhile.
    int error = 0;
    if (m_telnet) {
        const std::vector<uint8_t> opening = m_telnet->Opening();
        if (!SendRaw(opening.data(), opening.size(), MillisecondsLeft(deadline), error)) return false;
        // The settings go as the server agrees to the option, in answer to
        // it; a server that never says is used as it is.
        // Data that comes meanwhile predates the purge below: none is kept.
        while (!m_telnet->Settled()) {
            const Wake wake = WaitSocket(&stop, nullptr, false, MillisecondsLeft(deadline), error);
            if (wake == Wake::Timeout) break;
            if (wake != Wake::Readable || !TakeIn(error)) return false;
            m_pending.clear();
        }
        const std::vector<uint8_t> purge = CComPortTelnet::Purge();
        if (!SendRaw(purge.data(), purge.size(), MillisecondsLeft(deadline), error)) return false;
    }
    // A server hands over what the scale said while no client was there
    // (an unanswered frame, a reply to the last link's handshake) as soon as
    // a client comes. It predates this link, as what a local port's purge
    // throws away does, and would pass for the scale's first answer: it is
    // thrown away until the line has been quiet for a moment.
    const auto staleUntil = Clock::now() + std::chrono::milliseconds(NETWORK_STALE_LIMIT_MS);
    for (;;) {
        const int quiet = std::min(NETWORK_QUIET_MS, MillisecondsLeft(staleUntil));
        if (quiet == 0) break;
        const Wake wake = WaitSocket(&stop, nullptr, false, quiet, error);
        if (wake == Wake::Timeout) break;
        if (wake != Wake::Readable || !TakeIn(error)) return false;
        m_pending.clear();
    }
    m_reached.store(true);
    return true;
}

bool CSocketLine::TakeIn(int& error) {
    const Filled filled = Fill(error);
    return filled == Filled::Got || filled == Filled::Nothing;
}

bool CSocketLine::Connect(const platform::CWaitEvent& stop, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto lookup = LookUp(m_address);
    for (const addrinfo* a = AwaitLookup(*lookup, deadline); a; a = a->ai_next) {
        m_socket = static_cast<intptr_t>(::socket(a->ai_family, a->ai_socktype, a->ai_protocol));
        if (m_socket == NO_SOCKET) continue;
#ifdef _WIN32
        m_closed = false;
        if (!m_netEvent) m_netEvent = reinterpret_cast<intptr_t>(::WSACreateEvent());
        // Also makes the socket non-blocking.
        const bool ready = ::WSAEventSelect(AsSocket(m_socket), reinterpret_cast<HANDLE>(m_netEvent),
                                            FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) == 0;
#else
        const bool ready = SetNonBlocking(m_socket);
#endif
        if (ready) {
            int error = 0;
            if (::connect(AsSocket(m_socket), a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) return true;
            if (LastError() == CONNECT_PENDING) {
                const Wake wake = WaitSocket(&stop, nullptr, true, MillisecondsLeft(deadline), error);
                if (wake == Wake::Writable) return true;
                if (wake == Wake::Stop) {
                    CloseSocket(m_socket);
                    m_socket = NO_SOCKET;
                    return false;
                }
            }
        }
        CloseSocket(m_socket);
        m_socket = NO_SOCKET;
        if (Clock::now() >= deadline) break;
    }
    return false;
}

void CSocketLine::SetLinkOptions() {
    const Socket s = AsSocket(m_socket);
    int on = 1;
    // Each acknowledge goes at once, not gathered with the next.
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    // A server that falls silent is found out in seconds, not the system's
    // two hours: probes after 2 s of quiet, one a second (0.6 s on Windows,
    // whose count of ten is fixed), and unanswered data given up as well.
#ifdef _WIN32
    tcp_keepalive times{1, 2000, 600};
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &times, sizeof times, nullptr, 0, &returned, nullptr, nullptr);
#ifdef TCP_MAXRT
    const DWORD seconds = NETWORK_SILENCE_LIMIT_MS / 1000;
    ::setsockopt(s, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char*>(&seconds), sizeof seconds);
#endif
#else
    const int idle = 2, interval = 1, count = 5, userTimeout = NETWORK_SILENCE_LIMIT_MS;
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(s, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
#endif
}

CSocketLine::Wake CSocketLine::WaitSocket(const platform::CWaitEvent* stop, const platform::CWaitEvent* write,
                                          bool forWrite, int timeoutMs, int& error) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
#ifdef _WIN32
    HANDLE handles[3];
    DWORD count = 0;
    int stopAt = -1, netAt, writeAt = -1;
    if (stop) handles[stopAt = static_cast<int>(count++)] = reinterpret_cast<HANDLE>(stop->Handle());
    handles[netAt = static_cast<int>(count++)] = reinterpret_cast<HANDLE>(m_netEvent);
    if (write) handles[writeAt = static_cast<int>(count++)] = reinterpret_cast<HANDLE>(write->Handle());
    for (;;) {
        // Winsock tells FD_READ once, until the next recv: one taken up by
        // an earlier wait (with FD_CONNECT, or while sending) would leave
        // data waiting unseen. So what is there is looked at first.
        if (!forWrite && (m_closed || Waiting(m_socket) > 0)) return Wake::Readable;  // the caller finds the end
        const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(MillisecondsLeft(deadline));
        const DWORD r = ::WaitForMultipleObjects(count, handles, FALSE, limit);
        if (r == WAIT_TIMEOUT) return Wake::Timeout;
        if (r >= WAIT_OBJECT_0 + count) {
            error = static_cast<int>(::GetLastError());
            return Wake::Failed;
        }
        const int at = static_cast<int>(r - WAIT_OBJECT_0);
        if (at == stopAt) return Wake::Stop;
        if (at == writeAt) return Wake::Write;
        WSANETWORKEVENTS events{};
        if (::WSAEnumNetworkEvents(AsSocket(m_socket), reinterpret_cast<HANDLE>(m_netEvent), &events) != 0) {
            error = LastError();
            return Wake::Failed;
        }
        if (events.lNetworkEvents & FD_CONNECT) {
            if (events.iErrorCode[FD_CONNECT_BIT] != 0) {
                error = events.iErrorCode[FD_CONNECT_BIT];
                return Wake::Closed;
            }
            if (forWrite) return Wake::Writable;
        }
        if (events.lNetworkEvents & FD_CLOSE) {
            m_closed = true;
            error = events.iErrorCode[FD_CLOSE_BIT] ? events.iErrorCode[FD_CLOSE_BIT] : CONNECTION_ENDED;
            return forWrite ? Wake::Closed : Wake::Readable;
        }
        if (!forWrite && (events.lNetworkEvents & FD_READ)) return Wake::Readable;
        if (forWrite && (events.lNetworkEvents & FD_WRITE)) return Wake::Writable;
        // A send waiting for room is told by FD_WRITE only once the room is
        // there; any other wake of the socket is one more look.
        if (forWrite) return Wake::Writable;
    }
#else
    pollfd fds[3];
    nfds_t count = 0;
    int stopAt = -1, writeAt = -1;
    if (stop) {
        stopAt = static_cast<int>(count);
        fds[count++] = {static_cast<int>(stop->Handle()), POLLIN, 0};
    }
    const int socketAt = static_cast<int>(count);
    fds[count++] = {AsSocket(m_socket), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    if (write) {
        writeAt = static_cast<int>(count);
        fds[count++] = {static_cast<int>(write->Handle()), POLLIN, 0};
    }
    for (;;) {
        const int ready = ::poll(fds, count, timeoutMs < 0 ? -1 : MillisecondsLeft(deadline));
        if (ready == 0) return Wake::Timeout;
        if (ready < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return Wake::Failed;
        }
        if (stopAt >= 0 && (fds[stopAt].revents & POLLIN)) return Wake::Stop;
        const short socketEvents = fds[socketAt].revents;
        if (socketEvents & (POLLERR | POLLHUP | POLLNVAL)) {
            int pending = 0;
            socklen_t length = sizeof pending;
            ::getsockopt(AsSocket(m_socket), SOL_SOCKET, SO_ERROR, &pending, &length);
            error = pending ? pending : CONNECTION_ENDED;
            // Bytes that came before the end are still read first.
            return forWrite ? Wake::Closed : Wake::Readable;
        }
        if (socketEvents & (POLLIN | POLLOUT)) return forWrite ? Wake::Writable : Wake::Readable;
        if (writeAt >= 0 && (fds[writeAt].revents & POLLIN)) return Wake::Write;
    }
#endif
}

bool CSocketLine::Endless() const { return m_telnet && m_telnet->Endless(); }

CSocketLine::Filled CSocketLine::Fill(int& error) {
    if (Endless()) {
        error = CONNECTION_ENDED;
        return Filled::Ended;
    }
    uint8_t piece[READ_PIECE];
    const auto got = ::recv(AsSocket(m_socket), reinterpret_cast<char*>(piece), sizeof piece, 0);
    if (got == 0) {
        error = CONNECTION_ENDED;
        return Filled::Ended;
    }
    if (got < 0) {
        error = LastError();
        return error == WOULD_BLOCK ? Filled::Nothing : Filled::Failed;
    }
    const size_t count = static_cast<size_t>(got);
    if (!m_telnet) {
        m_pending.insert(m_pending.end(), piece, piece + count);
        return Filled::Got;
    }
    std::vector<uint8_t> replies;
    m_telnet->Receive(piece, count, m_pending, replies);
    // Nothing the server sends can be told from its data any more: the link
    // ends, once the data before it has been taken.
    if (m_telnet->Endless() && m_pending.empty()) {
        error = CONNECTION_ENDED;
        return Filled::Ended;
    }
    if (!replies.empty() && !SendRaw(replies.data(), replies.size(), 1000, error)) return Filled::Failed;
    return Filled::Got;
}

bool CSocketLine::SendRaw(const uint8_t* bytes, size_t size, int timeoutMs, int& error) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < size) {
        const auto put = ::send(AsSocket(m_socket), reinterpret_cast<const char*>(bytes + done),
                                static_cast<int>(size - done), SEND_FLAGS);
        if (put > 0) {
            done += static_cast<size_t>(put);
            continue;
        }
        error = LastError();
        if (error != WOULD_BLOCK) return false;
        const int left = MillisecondsLeft(deadline);
        if (left == 0 || WaitSocket(nullptr, nullptr, true, left, error) != Wake::Writable) {
            if (error == 0 || error == WOULD_BLOCK) error = TIMED_OUT;
            return false;
        }
    }
    return true;
}

void CSocketLine::DiscardReceived() {
    if (!m_reached.load()) return;  // nothing has come yet
    std::lock_guard<std::mutex> guard(m_lock);
    int error = 0;
    while (Waiting(m_socket) > 0 && Fill(error) == Filled::Got) {
    }
    m_pending.clear();
}

// The server's own buffers are purged once, as the link is reached (see
// Reach). Before each acknowledge only what has come in here is thrown
// away: a server answers PURGE-DATA only once it has purged, which takes
// ser2net some 40 ms, and the acknowledge would wait behind it.
void CSocketLine::Purge() { DiscardReceived(); }

void CSocketLine::PurgeInput() { DiscardReceived(); }

int CSocketLine::QueueCount(int& error) {
    if (!m_reached.load()) return 0;
    std::lock_guard<std::mutex> guard(m_lock);
    const int waiting = Waiting(m_socket);
    if (waiting < 0) {
        error = LastError();
        return -1;
    }
    return waiting + static_cast<int>(m_pending.size());
}

bool CSocketLine::Configure(const LineSettings& settings, const char*&, int&) {
    if (m_telnet) m_telnet->Ask(settings);
    m_sevenBits = settings.dataBits == 7;
    return true;
}

long CSocketLine::Read(uint8_t* buffer, size_t size, int& error) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_pending.empty()) {
        const Filled filled = Fill(error);
        if (filled == Filled::Ended || filled == Filled::Failed) return -1;
    }
    const size_t taken = std::min(size, m_pending.size());
    std::copy_n(m_pending.begin(), taken, buffer);
    // Seven data bits leave bit 7 to the parity, which a server that keeps
    // 8 bits (or says it took 7 in front of a line that cannot) hands on.
    if (m_sevenBits)
        for (size_t i = 0; i < taken; ++i) buffer[i] &= 0x7F;
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(taken));
    return static_cast<long>(taken);
}

bool CSocketLine::Write(const uint8_t* bytes, size_t size, int timeoutMs, int& error) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_wire.clear();
    if (m_telnet)
        CComPortTelnet::Escape(bytes, size, m_wire);
    else
        m_wire.assign(bytes, bytes + size);
    return SendRaw(m_wire.data(), m_wire.size(), timeoutMs, error);
}

platform::WaitResult CSocketLine::WaitForAny(const platform::CWaitEvent& stop, const platform::CWaitEvent& write,
                                             int timeoutMs, int& error) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_pending.empty() && Endless()) {
                error = CONNECTION_ENDED;
                return platform::WaitResult::Removed;
            }
            if (!m_pending.empty() || Waiting(m_socket) > 0) return platform::WaitResult::Line;
        }
        const int left = timeoutMs < 0 ? -1 : MillisecondsLeft(deadline);
        if (left == 0) return platform::WaitResult::Timeout;
        switch (WaitSocket(&stop, &write, false, left, error)) {
            case Wake::Stop: return platform::WaitResult::Stop;
            case Wake::Write: return platform::WaitResult::Write;
            case Wake::Readable: {
                // Data, only Telnet for the line itself, or the end.
                std::lock_guard<std::mutex> guard(m_lock);
                switch (Fill(error)) {
                    case Filled::Got:
                        if (!m_pending.empty()) return platform::WaitResult::Line;
                        break;
                    case Filled::Nothing:
                        if (m_closed) return platform::WaitResult::Removed;
                        break;
                    case Filled::Ended:
                    case Filled::Failed:
                        return platform::WaitResult::Removed;
                }
                break;
            }
            case Wake::Closed: return platform::WaitResult::Removed;
            case Wake::Writable:
            case Wake::Timeout: break;
            case Wake::Failed: return platform::WaitResult::Failed;
        }
    }
}

std::wstring CSocketLine::TakeDifferences() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_telnet ? m_telnet->TakeDifferences() : std::wstring();
}

}  // namespace tarvex
