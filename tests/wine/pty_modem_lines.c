/* Makes a pseudo-terminal answer the modem-line ioctls as a real serial port
 * does, for a program run under Wine with LD_PRELOAD. Wine's serial wait
 * ends at once on a port whose modem status cannot be read; with the lines
 * answered, its wait stays pending until a byte arrives, as on real
 * hardware. Every other call goes to the system untouched. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

/* The lines a scale's port shows: the far side is there and ready. */
static const int FAR_SIDE_LINES = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
static int ownLines = TIOCM_DTR | TIOCM_RTS;

static int IsPtySlave(int fd) {
    struct stat info;
    /* Unix 98 pty slaves have majors 136 to 143. */
    return fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && major(info.st_rdev) >= 136 &&
           major(info.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
    static int (*real_ioctl)(int, unsigned long, ...);
    if (!real_ioctl) real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    const int result = real_ioctl(fd, request, argument);
    const int error = errno;
    if (result == 0 || (error != ENOTTY && error != EINVAL) || !IsPtySlave(fd)) {
        errno = error;
        return result;
    }
    int* lines = (int*)argument;
    switch (request) {
        case TIOCMGET:
            *lines = ownLines | FAR_SIDE_LINES;
            return 0;
        case TIOCMSET:
            ownLines = *lines & (TIOCM_DTR | TIOCM_RTS);
            return 0;
        case TIOCMBIS:
            ownLines |= *lines & (TIOCM_DTR | TIOCM_RTS);
            return 0;
        case TIOCMBIC:
            ownLines &= ~*lines;
            return 0;
        default:
            errno = error;
            return result;
    }
}
