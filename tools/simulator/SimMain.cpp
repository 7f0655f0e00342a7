// tarvex-scale-sim: a scale on a pseudo-terminal (or a given device) for
// trying the program without hardware.

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "PseudoTerminal.h"
#include "ScaleSimulator.h"

namespace {

std::atomic<bool> g_quit{false};

void OnSignal(int) { g_quit.store(true); }

void Usage() {
    std::fprintf(stderr,
                 "usage: tarvex-scale-sim [--rate FRAMES_PER_SECOND] [--script LIST]\n"
                 "                        [--device PATH | --link PATH] [--no-wait-ack]\n"
                 "  --script  comma-separated frames: good:KG, damaged[:KG], over, split[:KG]\n"
                 "  --device  talk on an existing serial device instead of a new pty\n"
                 "  --link    also make PATH a symbolic link to the new pty\n");
}

int OpenDevice(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvex::sim;
    CScaleSimulator::Options options;
    std::string device, link;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            const auto value = [&]() -> std::string {
                if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
                return argv[++i];
            };
            if (arg == "--rate") options.framesPerSecond = std::stod(value());
            else if (arg == "--script") options.script = ParseScript(value());
            else if (arg == "--device") device = value();
            else if (arg == "--link") link = value();
            else if (arg == "--no-wait-ack") options.waitForAck = false;
            else if (arg == "--help" || arg == "-h") { Usage(); return 0; }
            else throw std::invalid_argument("unknown option " + arg);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvex-scale-sim: %s\n", e.what());
        Usage();
        return 2;
    }

    ::signal(SIGINT, OnSignal);
    ::signal(SIGTERM, OnSignal);
    ::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<CPseudoTerminal> pty;
    int fd = -1;
    if (!device.empty()) {
        fd = OpenDevice(device);
        if (fd < 0) {
            std::fprintf(stderr, "tarvex-scale-sim: cannot open %s: %s\n", device.c_str(), std::strerror(errno));
            return 1;
        }
        std::printf("device: %s\n", device.c_str());
    } else {
        try {
            pty = std::make_unique<CPseudoTerminal>();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarvex-scale-sim: %s\n", e.what());
            return 1;
        }
        fd = pty->Fd();
        std::printf("device: %s\n", pty->DevicePath().c_str());
        if (!link.empty()) {
            std::error_code ec;
            std::filesystem::remove(link, ec);
            std::filesystem::create_symlink(pty->DevicePath(), link, ec);
            if (ec) std::fprintf(stderr, "tarvex-scale-sim: cannot link %s: %s\n", link.c_str(), ec.message().c_str());
        }
    }
    std::fflush(stdout);

    CScaleSimulator sim(fd, options);
    sim.Run(g_quit);
    const auto& s = sim.Stats();
    std::printf("handshakes=%llu frames=%llu acks=%llu repeats=%llu stops=%llu\n",
                static_cast<unsigned long long>(s.handshakes.load()),
                static_cast<unsigned long long>(s.framesSent.load()),
                static_cast<unsigned long long>(s.acks.load()),
                static_cast<unsigned long long>(s.repeats.load()),
                static_cast<unsigned long long>(s.stops.load()));
    if (!link.empty()) {
        std::error_code ec;
        std::filesystem::remove(link, ec);
    }
    if (!device.empty()) ::close(fd);
    return 0;
}
