#include "serial/NetworkProbe.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/AddressLookup.h"
#include "serial/SocketCalls.h"

namespace tarvex {

using namespace sockets;

namespace {

// One connection to the server within the time left, closed at once: the
// probe's question, whether a server listens there.
bool Answers(const NetworkAddress& address, Clock::time_point deadline) {
    auto lookup = LookUp(address);
    const addrinfo* first = AwaitLookup(*lookup, deadline);
    for (const addrinfo* a = first; a; a = a->ai_next) {
        const intptr_t s = static_cast<intptr_t>(::socket(a->ai_family, a->ai_socktype, a->ai_protocol));
        if (s == NO_SOCKET) continue;
        bool made = false;
        if (SetNonBlocking(s)) {
            const int result = ::connect(AsSocket(s), a->ai_addr, static_cast<int>(a->ai_addrlen));
            if (result == 0) {
                made = true;
            } else if (LastError() == CONNECT_PENDING) {
#ifdef _WIN32
                fd_set writable, failed;
                FD_ZERO(&writable);
                FD_ZERO(&failed);
                FD_SET(AsSocket(s), &writable);
                FD_SET(AsSocket(s), &failed);
                const int ms = MillisecondsLeft(deadline);
                timeval limit{ms / 1000, (ms % 1000) * 1000};
                made = ::select(0, nullptr, &writable, &failed, &limit) > 0 && FD_ISSET(AsSocket(s), &writable);
#else
                pollfd p{AsSocket(s), POLLOUT, 0};
                int ready;
                do ready = ::poll(&p, 1, MillisecondsLeft(deadline));
                while (ready < 0 && errno == EINTR);
                int error = 0;
                socklen_t length = sizeof error;
                made = ready > 0 && ::getsockopt(AsSocket(s), SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
                       error == 0;
#endif
            }
        }
        CloseSocket(s);
        if (made) return true;
        if (Clock::now() >= deadline) break;
    }
    return false;
}

}  // namespace

std::vector<bool> ReachableAddresses(const std::vector<NetworkAddress>& addresses, int limitMs,
                                     const std::function<void()>& whileWaiting) {
    struct Tally {
        std::mutex lock;
        std::condition_variable changed;
        std::vector<bool> reachable;
        size_t left = 0;
    };
    auto answers = std::make_shared<Tally>();
    answers->reachable.assign(addresses.size(), false);
    answers->left = addresses.size();
    if (addresses.empty() || !StartSockets()) return answers->reachable;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    // Each on its own thread, so that all are tried at the same time; none
    // waits past the deadline, so they are joined as this returns.
    std::vector<std::jthread> askers;
    askers.reserve(addresses.size());
    for (size_t i = 0; i < addresses.size(); ++i) {
        askers.emplace_back([answers, i, address = addresses[i], deadline] {
            const bool reached = Answers(address, deadline);
            {
                std::lock_guard<std::mutex> guard(answers->lock);
                answers->reachable[i] = reached;
                --answers->left;
            }
            answers->changed.notify_all();
        });
    }
    std::unique_lock<std::mutex> guard(answers->lock);
    while (answers->left > 0 && Clock::now() < deadline) {
        answers->changed.wait_for(guard, std::chrono::milliseconds(15), [&] { return answers->left == 0; });
        if (whileWaiting && answers->left > 0) {
            guard.unlock();
            whileWaiting();
            guard.lock();
        }
    }
    return answers->reachable;
}

}  // namespace tarvex
