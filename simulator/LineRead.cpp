#include "simulator/LineRead.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace tarvex::sim {

long ReadSome(int fd, uint8_t* bytes, size_t size, int waitMs) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready < 0 && errno != EINTR) return -1;
    if (ready <= 0) return 0;
    if (!(p.revents & POLLIN)) {
        // Nobody has the port open yet (or any more): wait for someone.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return 0;
    }
    const ssize_t n = ::read(fd, bytes, size);
    if (n > 0) return n;
    if (n < 0 && (errno == EAGAIN || errno == EINTR || errno == EIO)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return 0;
    }
    return -1;
}

}  // namespace tarvex::sim
