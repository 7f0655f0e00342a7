#include "serial/AddressLookup.h"

#include <thread>

namespace tarvex {

// The server's addresses, looked up on a thread of its own: a name server
// that does not answer must not hold the caller past its limit. The thread
// owns its share of the answer and frees it whoever waits longer. It alone
// is let go rather than joined: getaddrinfo cannot be cancelled, and a join
// could hold the program's end for as long as the resolver retries its
// name servers (seconds each).
std::shared_ptr<Lookup> LookUp(const NetworkAddress& address) {
    auto lookup = std::make_shared<Lookup>();
    auto resolve = [lookup, host = address.host, port = address.port](int flags) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = flags;
        addrinfo* found = nullptr;
        if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) found = nullptr;
        {
            std::lock_guard<std::mutex> guard(lookup->lock);
            lookup->found = found;
            lookup->finished = true;
        }
        lookup->done.notify_all();
    };
    // An address written as digits needs no name server.
    resolve(AI_NUMERICHOST);
    if (!lookup->found) {
        lookup->finished = false;
        std::thread([resolve] { resolve(0); }).detach();
    }
    return lookup;
}

const addrinfo* AwaitLookup(Lookup& lookup, sockets::Clock::time_point deadline) {
    std::unique_lock<std::mutex> guard(lookup.lock);
    lookup.done.wait_until(guard, deadline, [&] { return lookup.finished; });
    return lookup.finished ? lookup.found : nullptr;
}

}  // namespace tarvex
