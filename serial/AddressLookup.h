#pragma once
// A server's addresses, looked up on a thread of its own: a name server
// that does not answer must not hold the caller past its limit.

#include <condition_variable>
#include <memory>
#include <mutex>

#include "serial/NetworkAddress.h"
#include "serial/SocketCalls.h"

namespace tarvex {

struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    addrinfo* found = nullptr;
    ~Lookup() {
        if (found) ::freeaddrinfo(found);
    }
};

// Starts the look-up; an address written as digits is there at once.
std::shared_ptr<Lookup> LookUp(const NetworkAddress& address);
// The addresses found by the deadline; null when none (or not yet).
const addrinfo* AwaitLookup(Lookup& lookup, sockets::Clock::time_point deadline);

}  // namespace tarvex
