// Runs the serial platform functions once against a port whose far end a
// test plays (under Wine: a COM port mapped to a pseudo-terminal): open,
// configure, purge, write the handshake byte, wait for the answer and read
// it, then the queue count and the input purge, then a quiet wait ended by a
// stop and the close. Prints each step; exit code 0 when the answer was 0xA5
// and the quiet wait ended for the stop alone.
//
//   tarvex-serial-sample DEVICE        (\\.\COM9 on Windows, a pty path here)

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "serial/SerialPlatform.h"

using namespace tarvex::platform;

namespace {

int Fail(const char* step, int error) {
    std::printf("%s failed: %d\n", step, error);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    int error = 0;
    const PortHandle port = OpenExclusive(argv[1], error);
    if (port == NO_PORT) return Fail("open", error);
    std::printf("open: ok\n");
    const char* step = nullptr;
    if (!Configure(port, tarvex::LineSettings{}, step, error)) return Fail(step, error);
    std::printf("configure: ok\n");
    Purge(port);
    const uint8_t hello = 0x5A;
    if (!Write(port, &hello, 1, 1000, error)) return Fail("write", error);
    std::printf("write: ok\n");
    // The far end answers 0xA5 and then two more bytes, which the input
    // purge must throw away.
    CWaitEvent stop, write;
    int waiting = 0;
    for (int i = 0; i < 100 && waiting < 3; ++i) {
        if (WaitForAny(port, stop, write, -1, error) == WaitResult::Line) waiting = QueueCount(port, error);
        if (waiting < 3) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("queue count: %d\n", waiting);
    uint8_t answer = 0;
    if (Read(port, &answer, 1, error) != 1) return Fail("read", error);
    std::printf("read: 0x%02X\n", answer);
    PurgeInput(port);
    std::printf("queue count after purge: %d\n", QueueCount(port, error));
    // A quiet line: the wait ends only for the stop, asked from another
    // thread, and the port closes at once although its line wait may still
    // be pending (on Windows, CancelIo would not reach it from here).
    stop.Reset();
    const auto asked = std::chrono::steady_clock::now();
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop.Set();
    });
    const WaitResult quiet = WaitForAny(port, stop, write, -1, error);
    stopper.join();
    Close(port);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
    std::printf("quiet wait ended by the stop: %s, closed after %lld ms\n", quiet == WaitResult::Stop ? "yes" : "no",
                static_cast<long long>(took.count()));
    return answer == 0xA5 && waiting >= 3 && quiet == WaitResult::Stop ? 0 : 1;
}
