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
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "simulator/PolledScale.h"
#include "simulator/PseudoTerminal.h"
#include "simulator/ScaleSimulator.h"
#include "simulator/UsbScale.h"

namespace {

std::atomic<bool> g_quit{false};

void OnSignal(int) { g_quit.store(true); }

void Usage() {
    std::fprintf(stderr,
                 "usage: tarvex-scale-sim [--rate FRAMES_PER_SECOND] [--script LIST]\n"
                 "                        [--device PATH | --link PATH] [--no-wait-ack]\n"
                 "                        [--limit N] [--pieces] [--piece-gap MS] [--no-resend] [--control]\n"
                 "       tarvex-scale-sim --protocol mt-sics|toledo|nci|ascii [--unit kg|lb|g] [--parity-bits]\n"
                 "                        [--print-ms MS] [--device PATH | --link PATH] [--control]\n"
                 "       tarvex-scale-sim --hid FOLDER [--unit kg|g|lb|oz] [--print-ms MS] [--control]\n"
                 "  --script     comma-separated frames: good:KG, damaged[:KG], over, split[:KG],\n"
                 "               bytes:HEX (sent as they are)\n"
                 "  --device     talk on an existing serial device instead of a new pty\n"
                 "  --link       also make PATH a symbolic link to the new pty\n"
                 "  --limit      send at most N frames, then fall silent\n"
                 "  --pieces     write every frame in two or three pieces 1-10 ms apart\n"
                 "  --piece-gap  write every frame in pieces MS apart\n"
                 "  --no-resend  never say a frame again unasked (by default after 1 s unanswered)\n"
                 "  --protocol   a scale that is asked for its weight (or prints it), not the frames\n"
                 "  --unit       the unit it weighs in (kg; a Toledo scale sends none on the wire)\n"
                 "  --parity-bits  bit 7 of every byte is its even parity: a 7E1 scale on an 8-bit line\n"
                 "  --print-ms   ascii: a line this often unasked (200; 0: only when asked);\n"
                 "               hid: a report this often besides each change (100)\n"
                 "  --hid        a USB postal scale laid out under FOLDER as Linux shows one\n"
                 "               (the program reads it with TARVEX_HID_ROOT=FOLDER)\n"
                 "  --control    take commands on standard input, a line each, and answer\n"
                 "               each with a line: counts, rate N, limit N, put KG, pull, plug, quit\n");
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

// What the control loop and main need of either kind of scale.
class IScale {
public:
    virtual ~IScale() = default;
    virtual void Run(const std::atomic<bool>& quit) = 0;
    virtual void Attach(int fd) = 0;
    virtual void PrintCounts() = 0;
    // A control line of this kind of scale's own; false when it is none.
    virtual bool Control(const std::string& line) = 0;
};

// A control line "NAME VALUE": set(value) with the value read, and one line
// of answer, also when the value cannot be read.
template <typename Read, typename Set>
bool Setting(const std::string& line, const std::string& name, Read read, Set set) {
    if (line.rfind(name + " ", 0) != 0) return false;
    const std::string value = line.substr(name.size() + 1);
    try {
        set(read(value));
        std::puts("ok");
    } catch (const std::exception&) {
        std::printf("not a value for %s: %s\n", name.c_str(), value.c_str());
    }
    return true;
}

double Number(const std::string& text) { return std::stod(text); }
unsigned long long Count(const std::string& text) { return std::stoull(text); }

class CFramesScale final : public IScale {
public:
    CFramesScale(int fd, tarvex::sim::CScaleSimulator::Options options) : m_sim(fd, std::move(options)) {}
    void Run(const std::atomic<bool>& quit) override { m_sim.Run(quit); }
    void Attach(int fd) override { m_sim.Attach(fd); }
    void PrintCounts() override {
        const tarvex::sim::SimStats& s = m_sim.Stats();
        std::printf("handshakes=%llu frames=%llu acks=%llu repeats=%llu stops=%llu late_pieces=%llu\n",
                    static_cast<unsigned long long>(s.handshakes.load()),
                    static_cast<unsigned long long>(s.framesSent.load()),
                    static_cast<unsigned long long>(s.acks.load()),
                    static_cast<unsigned long long>(s.repeats.load()),
                    static_cast<unsigned long long>(s.stops.load()),
                    static_cast<unsigned long long>(s.latePieces.load()));
        std::fflush(stdout);
    }
    bool Control(const std::string& line) override {
        return Setting(line, "rate", Number, [this](double rate) { m_sim.SetRate(rate); }) ||
               Setting(line, "limit", Count, [this](unsigned long long limit) { m_sim.SetLimit(limit); });
    }

private:
    tarvex::sim::CScaleSimulator m_sim;
};

class CAskedScale final : public IScale {
public:
    CAskedScale(int fd, tarvex::sim::CPolledScale::Options options) : m_scale(fd, std::move(options)) {}
    void Run(const std::atomic<bool>& quit) override { m_scale.Run(quit); }
    void Attach(int fd) override { m_scale.Attach(fd); }
    void PrintCounts() override {
        const tarvex::sim::AnswerCounts c = m_scale.Counts();
        std::printf("polls=%u zeros=%u tares=%u unknown=%u\n", c.polls, c.zeros, c.tares, c.unknown);
        std::fflush(stdout);
    }
    bool Control(const std::string& line) override {
        return Setting(line, "put", Number, [this](double kilograms) { m_scale.Put(kilograms); });
    }
    void Put(double kilograms) { m_scale.Put(kilograms); }

private:
    tarvex::sim::CPolledScale m_scale;
};

class CUsbScaleSim final : public IScale {
public:
    explicit CUsbScaleSim(tarvex::sim::CUsbScale::Options options) : m_scale(std::move(options)) {}
    void Run(const std::atomic<bool>& quit) override { m_scale.Run(quit); }
    void Attach(int) override {}
    void PrintCounts() override {
        std::printf("reports=%u\n", m_scale.Reports());
        std::fflush(stdout);
    }
    bool Control(const std::string& line) override {
        if (line == "pull") {
            m_scale.Pull();
            std::puts("ok");
        } else if (line == "plug") {
            m_scale.Plug();
            std::printf("device: %s\n", m_scale.Node().c_str());
        } else {
            return Setting(line, "put", Number, [this](double kilograms) { m_scale.Put(kilograms); });
        }
        return true;
    }
    void Put(double kilograms) { m_scale.Put(kilograms); }
    std::string Node() const { return m_scale.Node().string(); }

private:
    tarvex::sim::CUsbScale m_scale;
};

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
void RunUnderControl(IScale& sim, std::unique_ptr<tarvex::sim::CPseudoTerminal> pty, const std::string& link) {
    std::atomic<bool> stop{false};
    std::thread running;
    const auto start = [&] {
        stop = false;
        if (pty) sim.Attach(pty->Fd());
        running = std::thread([&] { sim.Run(stop); });
    };
    const auto pull = [&] {
        if (!running.joinable()) return;
        stop = true;
        running.join();
        pty.reset();
        std::error_code ignored;
        if (!link.empty()) std::filesystem::remove(link, ignored);
    };
    start();
    std::string line;
    while (!g_quit.load() && std::getline(std::cin, line)) {
        // One answer line each, also for a line it cannot take: the
        // driving test reads it and goes on.
        if (line == "counts") {
            sim.PrintCounts();
        } else if (sim.Control(line)) {
            // answered by the scale
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
    std::optional<CPolledScale::Options> asked;
    std::optional<CUsbScale::Options> usb;
    const auto askedOptions = [&]() -> CPolledScale::Options& {
        if (!asked) throw std::invalid_argument("--protocol comes before its own options");
        return *asked;
    };
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
            else if (arg == "--protocol") {
                const std::string name = value();
                const std::optional<Protocol> protocol = ProtocolNamed(name);
                if (!protocol) throw std::invalid_argument("no protocol " + name);
                asked.emplace();
                asked->protocol = *protocol;
            }
            else if (arg == "--hid") usb.emplace(), usb->root = value();
            else if (arg == "--unit" && usb) usb->unit = value();
            else if (arg == "--print-ms" && usb) usb->printEveryMs = std::stoi(value());
            else if (arg == "--unit") askedOptions().unit = value();
            else if (arg == "--parity-bits") askedOptions().parityBits = true;
            else if (arg == "--print-ms") askedOptions().printEveryMs = std::stoi(value());
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

    std::unique_ptr<IScale> sim;
    std::function<void(double)> put;  // what stands on the platter, for a scale that weighs by itself
    std::unique_ptr<CPseudoTerminal> pty;
    int fd = -1;
    if (usb) {
        try {
            auto scale = std::make_unique<CUsbScaleSim>(*usb);
            std::printf("device: %s\n", scale->Node().c_str());
            std::fflush(stdout);
            put = [scale = scale.get()](double kilograms) { scale->Put(kilograms); };
            sim = std::move(scale);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarvex-scale-sim: %s\n", e.what());
            return 1;
        }
    } else if (!device.empty()) {
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

    if (!sim && asked) {
        auto scale = std::make_unique<CAskedScale>(fd, *asked);
        put = [scale = scale.get()](double kilograms) { scale->Put(kilograms); };
        sim = std::move(scale);
    } else if (!sim) {
        sim = std::make_unique<CFramesScale>(fd, options);
    }
    if (control) {
        RunUnderControl(*sim, std::move(pty), link);
        return 0;
    }
    // Left to itself, an asked scale weighs parcels one after another: each
    // stands 3 seconds, then the platter is empty for 2.
    std::thread parcels;
    if (put) {
        parcels = std::thread([put] {
            constexpr double WEIGHTS[] = {1.25, 0.48, 12.0, 3.75, 0.2};
            for (size_t n = 0; !g_quit.load(); ++n) {
                put(WEIGHTS[n % std::size(WEIGHTS)]);
                for (int tenth = 0; tenth < 50 && !g_quit.load(); ++tenth) {
                    if (tenth == 30) put(0);
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
            }
        });
    }
    sim->Run(g_quit);
    g_quit = true;
    if (parcels.joinable()) parcels.join();
    sim->PrintCounts();
    if (!link.empty()) {
        std::error_code ec;
        std::filesystem::remove(link, ec);
    }
    if (!device.empty()) ::close(fd);
    return 0;
}
