// The driver's platform functions on POSIX: termios, poll and eventfd.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/SerialPlatform.h"
#include "text/TextCodec.h"
#include "text/SystemReason.h"

namespace tarvex::platform {

const PortHandle NO_PORT = -1;

PortHandle OpenExclusive(const std::string& device, int& error) {
    error = ENOENT;
    if (device.empty()) return NO_PORT;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return NO_PORT;
    }
    // TIOCEXCL alone does not stop root; the lock keeps every other opener
    // out, this program's own port probe included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = EBUSY;
        ::close(fd);
        return NO_PORT;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        error = errno;
        ::close(fd);
        return NO_PORT;
    }
    error = 0;
    return fd;
}

void Close(PortHandle port) {
    if (port == NO_PORT) return;
    // TIOCEXCL outlives close() on pseudo-terminals and some drivers, and
    // only root ignores it: left set, a normal user could never open the
    // port again.
    ::ioctl(port, TIOCNXCL);
    ::close(port);
}

const char* const WAIT_STEP = "poll()";
const char* const READ_STEP = "read()";
const char* const WRITE_STEP = "write()";

namespace {

speed_t SpeedOf(int baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B9600;
    }
}

constexpr tcflag_t FRAMING = CSIZE | PARENB | PARODD | CSTOPB;

tcflag_t FramingOf(const LineSettings& settings) {
    tcflag_t flags = settings.dataBits == 7 ? CS7 : CS8;
    if (settings.parity != 'N') flags |= PARENB;
    if (settings.parity == 'O') flags |= PARODD;
    if (settings.stopBits == 2) flags |= CSTOPB;
    return flags;
}

}  // namespace

bool Configure(PortHandle port, const LineSettings& settings, const char*& failedStep, int& error) {
    termios tio{};
    if (::tcgetattr(port, &tio) != 0) {
        failedStep = "tcgetattr()";
        error = errno;
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(FRAMING | CRTSCTS);
    tio.c_cflag |= FramingOf(settings) | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, SpeedOf(settings.baud)) != 0 || ::cfsetospeed(&tio, SpeedOf(settings.baud)) != 0) {
        failedStep = "cfsetspeed()";
        error = errno;
        return false;
    }
    if (::tcsetattr(port, TCSANOW, &tio) != 0) {
        failedStep = "tcsetattr()";
        error = errno;
        return false;
    }
    // tcsetattr succeeds when any one setting was taken: read them back.
    termios taken{};
    if (::tcgetattr(port, &taken) != 0 || (taken.c_cflag & FRAMING) != FramingOf(settings)) {
        failedStep = "tcsetattr()";
        error = EINVAL;
        return false;
    }
    // Pseudo-terminals and some USB adapters have no modem lines.
    int rts = TIOCM_RTS;
    if (::ioctl(port, TIOCMBIS, &rts) != 0 && errno != ENOTTY && errno != EINVAL) {
        failedStep = "ioctl(TIOCMBIS)";
        error = errno;
        return false;
    }
    return true;
}

void Purge(PortHandle port) { ::tcflush(port, TCIOFLUSH); }

void PurgeInput(PortHandle port) { ::tcflush(port, TCIFLUSH); }

int QueueCount(PortHandle port, int& error) {
    int count = 0;
    if (::ioctl(port, FIONREAD, &count) != 0) {
        error = errno;
        return -1;
    }
    return count;
}

long Read(PortHandle port, uint8_t* buffer, size_t size, int& error) {
    const ssize_t got = ::read(port, buffer, size);
    if (got < 0) error = errno;
    if (got == 0) error = EIO;  // end of file: the far side is gone
    return got == 0 ? -1 : static_cast<long>(got);
}

bool Write(PortHandle port, const uint8_t* bytes, size_t size, int timeoutMs, int& error) {
    size_t done = 0;
    while (done < size) {
        const ssize_t put = ::write(port, bytes + done, size - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            error = errno;
            return false;
        }
        pollfd p{port, POLLOUT, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready == 0) {
            error = ETIMEDOUT;
            return false;
        }
        if (ready < 0 && errno != EINTR) {
            error = errno;
            return false;
        }
    }
    return true;
}

CWaitEvent::CWaitEvent() : m_handle(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CWaitEvent::~CWaitEvent() {
    if (m_handle >= 0) ::close(static_cast<int>(m_handle));
}

void CWaitEvent::Set() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(static_cast<int>(m_handle), &one, sizeof one);
}

void CWaitEvent::Reset() {
    uint64_t value;
    [[maybe_unused]] const ssize_t ignored = ::read(static_cast<int>(m_handle), &value, sizeof value);
}

WaitResult WaitForAny(PortHandle port, const CWaitEvent& stop, const CWaitEvent& write, int timeoutMs, int& error) {
    pollfd fds[3] = {{static_cast<int>(stop.Handle()), POLLIN, 0},
                     {port, POLLIN, 0},
                     {static_cast<int>(write.Handle()), POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 3, timeoutMs < 0 ? -1 : timeoutMs);
        if (ready == 0) return WaitResult::Timeout;
        if (ready < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return WaitResult::Failed;
        }
        if (fds[0].revents & POLLIN) return WaitResult::Stop;
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Unplugged, or the pty's master closed: the line event stays
            // set for ever, so only bytes still queued count as data.
            int count = 0;
            if (::ioctl(port, FIONREAD, &count) == 0 && count > 0) return WaitResult::Line;
            error = EIO;
            return WaitResult::Removed;
        }
        if (fds[1].revents & POLLIN) return WaitResult::Line;
        if (fds[2].revents & POLLIN) return WaitResult::Write;
    }
}

std::wstring ErrorText(int error) { return SystemReason(error); }

// The device is gone, or the network connection to it ended or failed.
bool IsRemovalError(int error) {
    switch (error) {
        case EIO: case ENXIO: case ENODEV:
        case ECONNRESET: case ECONNABORTED: case EPIPE: case ETIMEDOUT:
        case ENOTCONN: case ENETDOWN: case ENETUNREACH: case EHOSTUNREACH:
            return true;
        default:
            return false;
    }
}

bool IsPermissionError(int error) { return error == EACCES || error == EPERM; }

std::string OwningGroup(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) return {};
    group entry{};
    group* found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(info.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || !found) return {};
    return found->gr_name;
}

}  // namespace tarvex::platform
