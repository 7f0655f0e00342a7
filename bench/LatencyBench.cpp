// End-to-end latency: the real driver and frame judging against a scale on a
// pseudo-terminal. Measures the time from a weight frame written by the scale
// side to its 0x9F read back, beside the raw pty round trip of the same run.
//
//   tarvex-bench-latency [--frames N] [--rate FRAMES_PER_SECOND --seconds S]
//                        [--through raw|rfc2217]
//
// With --through, the same again through Debian's ser2net on loopback in
// front of the pty (raw TCP or Telnet with RFC 2217), from the same run.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FeedFrames.h"
#include "tests/support/RunningSer2net.h"
#include "simulator/PseudoTerminal.h"
#include "simulator/ScaleSimulator.h"
#include "serial/SerialPort.h"
#include "text/TextLookup.h"
#include "weighing/WeighingCore.h"

namespace tarvex {
namespace {

using Clock = std::chrono::steady_clock;

// The window thread of the program, reduced to a queue of work.
class BenchOwner : public ISerialOwner {
public:
    explicit BenchOwner(CSerialPort& port) : m_port(port), m_core(m_texts), m_thread([this] { Run(); }) {
        m_link.SetConnected(true);
    }
    ~BenchOwner() override {
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_quit = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    void PostToOwner(std::function<void()> work) override {
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_tasks.push_back(std::move(work));
        }
        m_changed.notify_one();
    }
    bool OnOwnerThread() const override { return std::this_thread::get_id() == m_thread.get_id(); }
    void OnSerialData(const uint8_t* bytes, int count) override {
        test::FeedFrames(m_link, m_core, bytes, count, [this](const FrameVerdict& verdict) {
            if (verdict.row < 0) return;
            const uint8_t ack = CMD_ACK;
            m_port.RequestWrite(&ack, 1);
        });
        // Keep the table below its limits; the bench measures the link.
        if (m_core.Table().RowCount() >= 50000) m_core.ClearFirstRows(m_core.Table().RowCount());
    }
    void ShowPortError(const std::wstring&, const std::wstring&) override { ++errors; }
    void OnPortRemoved(unsigned) override {}

    std::atomic<int> errors{0};

private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_lock);
        while (!m_quit) {
            m_changed.wait(lock, [this] { return m_quit || !m_tasks.empty(); });
            while (!m_tasks.empty()) {
                auto task = std::move(m_tasks.front());
                m_tasks.pop_front();
                lock.unlock();
                task();
                lock.lock();
            }
        }
    }

    CSerialPort& m_port;
    CTextLookup m_texts;
    CWeighingCore m_core;
    CFrameLink m_link;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_tasks;
    bool m_quit = false;
    std::thread m_thread;
};

// Writes bytes and waits for the one byte that answers them.
bool RoundTrip(int fd, const std::vector<uint8_t>& bytes, uint8_t expected, int timeoutMs) {
    if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) continue;
        uint8_t b[16];
        const ssize_t n = ::read(fd, b, sizeof b);
        for (ssize_t i = 0; i < n; ++i)
            if (b[i] == expected) return true;
    }
    return false;
}

struct Figures {
    double median = 0, p99 = 0;
};

Figures Summarise(std::vector<double> us) {
    if (us.empty()) return {};
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

// The pty alone: a thread on the device side echoes every byte at once.
Figures Baseline(int frames) {
    sim::CPseudoTerminal pty;
    int error = 0;
    const platform::PortHandle device = platform::OpenExclusive(pty.DevicePath(), error);
    const char* step = nullptr;
    platform::Configure(device, LineSettings{}, step, error);
    std::atomic<bool> quit{false};
    std::thread echo([&] {
        while (!quit) {
            pollfd p{device, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            uint8_t b[64];
            const ssize_t n = ::read(device, b, sizeof b);
            if (n > 0) [[maybe_unused]] ssize_t put = ::write(device, b, 1);
        }
    });
    std::vector<double> us;
    for (int i = 0; i < frames; ++i) {
        const auto t0 = Clock::now();
        if (RoundTrip(pty.Fd(), {0x5F, 0, 0, 0, 0, 0x5F}, 0x5F, 1000))
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    quit = true;
    echo.join();
    platform::Close(device);
    return Summarise(us);
}

struct Run {
    Figures figures;
    int sent = 0, lost = 0, errors = 0;
};

// The driver and frame judging answering a scale on a pty of its own: the
// port is the pty itself or, with a server, the server in front of it.
Run DriverLatency(int frames, double rate, double seconds, const char* through, const std::string& options) {
    sim::CPseudoTerminal scale(through != nullptr);
    std::unique_ptr<test::RunningSer2net> server;
    if (through) server = std::make_unique<test::RunningSer2net>(scale.DevicePath(), std::string(through) == "rfc2217", options);
    CSerialPort port;
    CPortMap map = CPortMap::Empty();
    map.Set(1, server ? server->Entry() : scale.DevicePath());
    port.SetPortMap(map);
    BenchOwner owner(port);
    Run run;
    if (!port.OpenPort(&owner, 1) || !port.StartReader()) {
        std::fprintf(stderr, "cannot open the port\n");
        run.lost = frames;
        return run;
    }
    if (server) {
        // Reached once a byte goes through the server to the scale.
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        const uint8_t hello = 0x3F;
        while (Clock::now() < deadline) {
            port.RequestWrite(&hello, 1);
            if (!scale.Receive(200).empty()) break;
        }
    }
    std::vector<double> us;
    auto one = [&](double kg) {
        ++run.sent;
        const auto t0 = Clock::now();
        if (RoundTrip(scale.Fd(), sim::WeightFrameFor(kg), 0x9F, 1000))
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        else
            ++run.lost;
    };
    if (rate > 0 && seconds > 0) {
        // Paced: one frame every 1/rate seconds for the whole run.
        const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
        const auto start = Clock::now();
        auto next = start;
        while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
            one(1.0 + (run.sent % 100) * 0.01);
            next += period;
            std::this_thread::sleep_until(next);
        }
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("paced rate=%.1f/s achieved=%.1f/s over %.1f s\n", rate, run.sent / took, took);
    } else {
        for (int i = 0; i < frames; ++i) one(1.0 + (i % 100) * 0.01);
    }
    port.Shutdown();
    run.figures = Summarise(us);
    run.errors = owner.errors;
    return run;
}

int Main(int argc, char** argv) {
    int frames = 2000;
    double rate = 0;
    double seconds = 0;
    const char* through = nullptr;
    std::string serverOptions;  // YAML lines for ser2net's connection, e.g. "  options:\n    chardelay: false\n"
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--frames") frames = std::stoi(argv[i + 1]);
        else if (arg == "--rate") rate = std::stod(argv[i + 1]);
        else if (arg == "--seconds") seconds = std::stod(argv[i + 1]);
        else if (arg == "--through") through = argv[i + 1];
        else if (arg == "--server-options") serverOptions = argv[i + 1];
    }

    const Figures baseline = Baseline(frames);
    const Run direct = DriverLatency(frames, rate, seconds, nullptr, {});
    std::printf("baseline_us median=%.1f p99=%.1f\n", baseline.median, baseline.p99);
    std::printf("latency_us median=%.1f p99=%.1f frames=%d lost=%d\n", direct.figures.median, direct.figures.p99,
                direct.sent, direct.lost);
    bool ok = direct.lost == 0 && direct.errors == 0;
    if (through) {
        const Run served = DriverLatency(frames, rate, seconds, through, serverOptions);
        std::printf("ser2net_%s_latency_us median=%.1f p99=%.1f frames=%d lost=%d ratio_to_pty_median=%.2f\n",
                    through, served.figures.median, served.figures.p99, served.sent, served.lost,
                    served.figures.median / direct.figures.median);
        ok = ok && served.lost == 0 && served.errors == 0;
    }
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace tarvex

int main(int argc, char** argv) { return tarvex::Main(argc, argv); }
