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
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "simulator/PseudoTerminal.h"
#include "simulator/ScaleSimulator.h"

namespace {

std::atomic<bool> g_quit{false};

void OnSignal(int) { g_quit.store(true); }

void Usage() {
    std::fprintf(stderr,
                 "usage: tarvex-scale-sim [--rate FRAMES_PER_SECOND] [--script LIST]\n"
                 "                        [--device PATH | --link PATH] [--no-wait-ack]\n"
                 "                        [--limit N] [--pieces] [--piece-gap MS] [--no-resend] [--control]\n"
                 "  --script     comma-separated frames: good:KG, damaged[:KG], over, split[:KG],\n"
                 "               bytes:HEX (sent as they are)\n"
                 "  --device     talk on an existing serial device instead of a new pty\n"
                 "  --link       also make PATH a symbolic link to the new pty\n"
                 "  --limit      send at most N frames, then fall silent\n"
                 "  --pieces     write every frame in two or three pieces 1-10 ms apart\n"
                 "  --piece-gap  write every frame in pieces MS apart\n"
                 "  --no-resend  never say a frame again unasked (by default after 1 s unanswered)\n"
                 "  --control    take commands on standard input, a line each, and answer\n"
                 "               each with a line: counts, rate N, limit N, pull, plug, quit\n");
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

void PrintCounts(const tarvex::sim::SimStats& s) {
    std::printf("handshakes=%llu frames=%llu acks=%llu repeats=%llu stops=%llu late_pieces=%llu\n",
                static_cast<unsigned long long>(s.handshakes.load()),
                static_cast<unsigned long long>(s.framesSent.load()),
                static_cast<unsigned long long>(s.acks.load()),
                static_cast<unsigned long long>(s.repeats.load()),
                static_cast<unsigned long long>(s.stops.load()),
                static_cast<unsigned long long>(s.latePieces.load()));
    std::fflush(stdout);
}

// A new pty, named by the link if any. The link is replaced in one step:
// a program looking for the device never finds the name missing.
std::unique_ptr<tarvex::sim::CPseudoTerminal> Plug(const std::string& link, bool holdDevice) {
    auto pty = std::make_unique<tarvex::sim::CPseudoTerminal>(holdDevice);
    if (!link.empty()) {
        const std::string fresh = link + ".new";
        std::error_code ec;
        std::filesystem::remove(fresh, ec);
        std::filesystem::create_symlink(pty->DevicePath(), fresh, ec);
        if (!ec) std::filesystem::rename(fresh, link, ec);
        if (ec) std::fprintf(stderr, "tarvex-scale-sim: cannot link %s: %s\n", link.c_str(), ec.message().c_str());
    }
    std::printf("device: %s\n", pty->DevicePath().c_str());
    std::fflush(stdout);
    return pty;
}

// The scale runs in a thread; the lines of standard input plug and pull
// it, change its rate and read its counters. The end of input ends it.
void RunUnderControl(tarvex::sim::CScaleSimulator& sim, std::unique_ptr<tarvex::sim::CPseudoTerminal> pty,
                     const std::string& link) {
    std::atomic<bool> stop{false};
    std::thread running;
    const auto start = [&] {
        stop = false;
        sim.Attach(pty->Fd());
        running = std::thread([&] { sim.Run(stop); });
    };
    const auto pull = [&] {
        if (!pty) return;
        stop = true;
        running.join();
        pty.reset();
        std::error_code ignored;
        if (!link.empty()) std::filesystem::remove(link, ignored);
    };
    start();
    std::string line;
    while (!g_quit.load() && std::getline(std::cin, line)) {
        if (line == "counts") {
            PrintCounts(sim.Stats());
        } else if (line.rfind("rate ", 0) == 0) {
            // One answer line each, also for a line it cannot take: the
            // driving test reads it and goes on.
            try {
                sim.SetRate(std::stod(line.substr(5)));
                std::puts("ok");
            } catch (const std::exception&) {
                std::printf("not a rate: %s\n", line.c_str() + 5);
            }
        } else if (line.rfind("limit ", 0) == 0) {
            try {
                sim.SetLimit(std::stoull(line.substr(6)));
                std::puts("ok");
            } catch (const std::exception&) {
                std::printf("not a limit: %s\n", line.c_str() + 6);
            }
        } else if (line == "pull") {
            pull();
            std::puts("ok");
        } else if (line == "plug") {
            pull();
            try {
                pty = Plug(link, true);
                start();
            } catch (const std::exception& e) {
                std::printf("cannot plug: %s\n", e.what());
            }
        } else if (line == "quit") {
            break;
        } else {
            std::printf("unknown command: %s\n", line.c_str());
        }
        std::fflush(stdout);
    }
    pull();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvex::sim;
    CScaleSimulator::Options options;
    std::string device, link;
    bool control = false;
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
            else if (arg == "--limit") options.limit = std::stoull(value());
            else if (arg == "--no-wait-ack") options.waitForAck = false;
            else if (arg == "--pieces") options.inPieces = true;
            else if (arg == "--piece-gap") options.inPieces = true, options.pieceGapMs = std::stoi(value());
            else if (arg == "--no-resend") options.resendUnanswered = false;
            else if (arg == "--control") control = true;
            else if (arg == "--help" || arg == "-h") { Usage(); return 0; }
            else throw std::invalid_argument("unknown option " + arg);
        }
        if (control && !device.empty()) throw std::invalid_argument("--control plugs its own pty; no --device");
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
        std::fflush(stdout);
    } else {
        try {
            pty = Plug(link, control);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarvex-scale-sim: %s\n", e.what());
            return 1;
        }
        fd = pty->Fd();
    }

    CScaleSimulator sim(fd, options);
    if (control) {
        RunUnderControl(sim, std::move(pty), link);
        return 0;
    }
    sim.Run(g_quit);
    PrintCounts(sim.Stats());
    if (!link.empty()) {
        std::error_code ec;
        std::filesystem::remove(link, ec);
    }
    if (!device.empty()) ::close(fd);
    return 0;
}
