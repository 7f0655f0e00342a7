// An asked scale through the whole session: the real driver, the protocol,
// the take rule and the journal, against the simulator's MT-SICS balance on
// a pseudo-terminal (in this process, its own CPU left out).
//
//   tarvex-bench-scale [--parcels N] [--seconds S] [--poll-ms MS]
//
// Prints
//   settle_to_row_ms median=M max=X parcels=N   (the platter still, to its row)
//   polls_per_second=P poll_ms=MS               (asked and answered, over S seconds)
//   cpu_us_per_poll=C idle_cpu_ms_per_s=I       (the program's threads, the scale's left out,
//                                                less the same span of this bench's own
//                                                window loop before connecting: I)
// A pseudo-terminal does not pace bytes at 9600 baud: one poll and its
// answer are 22 bytes, 23 ms on a 9600 8N1 line, well within a poll's time.

#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "simulator/Platter.h"
#include "simulator/PolledScale.h"
#include "simulator/PseudoTerminal.h"
#include "session/Session.h"
#include "tests/support/ProgramFolder.h"
#include "tests/support/RecordingSessionUi.h"

namespace tarvex {
namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

int Run(int parcels, int seconds, int pollMs) {
    test::TempDir dir;
    test::WriteProgramFolder(dir, std::string(test::kEnglishSetting) + "[Scale]\r\nProtocol=mt-sics\r\nPoll_Ms=" +
                                      std::to_string(pollMs) + "\r\n");
    sim::CPseudoTerminal pty;
    sim::CPolledScale scale(pty.Fd(), {sim::Protocol::MtSics, "kg"});
    std::atomic<bool> quit{false};
    std::thread scaleThread([&] { scale.Run(quit); });
    clockid_t scaleClock{};
    pthread_getcpuclockid(scaleThread.native_handle(), &scaleClock);
    test::RecordingSessionUi ui;
    SessionSetup setup;
    test::PlaceInTestFolder(setup, dir);
    CPortMap ports = CPortMap::Empty();
    ports.Set(3, pty.DevicePath());
    setup.ports = ports;
    auto session = std::make_unique<CSession>(std::move(setup), ui);
    ui.onTimer = [&](SessionTimer timer) { session->OnTimer(timer); };
    session->Start();
    // The recording window polls its queue every millisecond: its own cost,
    // measured alone before the link opens, is taken off.
    const double idle0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - CpuSeconds(scaleClock);
    ui.PumpFor(seconds * 1000);
    const double idlePerSecond = (CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - CpuSeconds(scaleClock) - idle0) / seconds;
    ui.selectedPort = 1;
    session->OnOpenCloseConnection();
    if (!ui.PumpUntil([&] { return session->IsConnected(); }, 5000)) {
        std::fprintf(stderr, "the scale did not answer\n");
        return 1;
    }

    std::vector<double> delays;
    for (int i = 0; i < parcels; ++i) {
        const int rows = session->Table().RowCount();
        scale.Put(1.0 + 0.25 * i);
        const Clock::time_point still = Clock::now() + sim::SWAY_TIME;  // the platter stops swaying
        if (!ui.PumpUntil([&] { return session->Table().RowCount() > rows; }, 5000)) {
            std::fprintf(stderr, "parcel %d earned no row\n", i + 1);
            return 1;
        }
        delays.push_back(std::chrono::duration<double, std::milli>(Clock::now() - still).count());
        scale.Put(0);
        ui.PumpUntil([&] { return session->LiveScale()->Live() && session->LiveScale()->Live()->kilograms == 0 &&
                                  !session->LiveScale()->Live()->status.motion; }, 5000);
    }
    std::sort(delays.begin(), delays.end());
    std::printf("settle_to_row_ms median=%.0f max=%.0f parcels=%zu\n", delays[delays.size() / 2], delays.back(),
                delays.size());

    const unsigned polls0 = scale.Counts().polls;
    const double cpu0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID), scaleCpu0 = CpuSeconds(scaleClock);
    const Clock::time_point began = Clock::now();
    ui.PumpFor(seconds * 1000);
    const double elapsed = std::chrono::duration<double>(Clock::now() - began).count();
    const unsigned polls = scale.Counts().polls - polls0;
    const double programCpu = (CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) - (CpuSeconds(scaleClock) - scaleCpu0) -
                              idlePerSecond * elapsed;
    quit = true;
    scaleThread.join();
    std::printf("polls_per_second=%.2f poll_ms=%d\n", polls / elapsed, pollMs);
    std::printf("cpu_us_per_poll=%.0f idle_cpu_ms_per_s=%.1f\n", 1e6 * std::max(programCpu, 0.0) / std::max(polls, 1u),
                1e3 * idlePerSecond);
    session.reset();
    return 0;
}

}  // namespace
}  // namespace tarvex

int main(int argc, char** argv) {
    int parcels = 10, seconds = 10, pollMs = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--parcels")) parcels = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds")) seconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--poll-ms")) pollMs = std::atoi(argv[i + 1]);
    }
    return tarvex::Run(std::max(parcels, 1), std::max(seconds, 1), pollMs);
}
