// Network ports: how long a probe of addresses that never answer takes, and
// how long a link whose server falls silent takes to be given up.
//
//   tarvex-bench-network probe ENTRY...   (e.g. socket://203.0.113.10:4001)
//   tarvex-bench-network silence ENTRY    prints "linked", then on a line on
//                                         standard input measures until the
//                                         link is given up
// bench/network_silence.sh cuts a link between two network namespaces.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "tests/support/OwnerThread.h"

namespace tarvex {
namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int Probe(const std::vector<std::string>& entries) {
    CPortMap map = CPortMap::Empty();
    for (size_t i = 0; i < entries.size(); ++i) map.Set(static_cast<int>(i) + 1, entries[i]);
    CSerialPort port;
    port.SetPortMap(map);
    std::vector<double> took;
    int turns = 0;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        port.ProbePorts([&] { ++turns; });
        took.push_back(MillisecondsSince(start));
    }
    std::sort(took.begin(), took.end());
    std::printf("probe_ms addresses=%zu median=%.1f max=%.1f found=%d window_turns_per_probe=%d\n", entries.size(),
                took[took.size() / 2], took.back(), port.PortTable()[0], turns / 5);
    return 0;
}

int Silence(const std::string& entry) {
    CPortMap map = CPortMap::Empty();
    map.Set(1, entry);
    test::OwnerThread owner;
    CSerialPort port;
    port.SetPortMap(map);
    if (!port.OpenPort(&owner, 1) || !port.StartReader()) return 1;
    // Reached once it has not been given up for a second.
    if (owner.WaitFor([&] { return !owner.unreached.empty(); }, 1000)) {
        std::fprintf(stderr, "not reached\n");
        return 1;
    }
    std::printf("linked\n");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    const auto cut = Clock::now();
    if (!owner.WaitFor([&] { return !owner.removed.empty(); }, 120000)) {
        std::printf("silence_detected_ms=never (120 s)\n");
        return 1;
    }
    std::printf("silence_detected_ms=%.0f\n", MillisecondsSince(cut));
    return 0;
}

}  // namespace
}  // namespace tarvex

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "probe") return tarvex::Probe({args.begin() + 1, args.end()});
    if (args.size() == 2 && args[0] == "silence") return tarvex::Silence(args[1]);
    std::fprintf(stderr, "usage: tarvex-bench-network probe ENTRY... | silence ENTRY\n");
    return 2;
}
