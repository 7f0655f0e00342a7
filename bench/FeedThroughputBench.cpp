// Readings per second through the HTTP feed's stream, over real sockets on
// loopback: readings are handed to the feed as fast as the window's thread
// can, while clients read the stream; the time runs until every client has
// the last one. Also the cost of one hand-over on the window's thread.
//
//   tarvex-bench-feed [--readings N] [--clients C]

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "outputs/HttpFeed.h"
#include "tests/support/FeedRecords.h"
#include "outputs/HttpLibrary.h"

namespace tarvex {
namespace {

using Clock = std::chrono::steady_clock;

using test::Weighing;

// One stream client: checks that the ids come one by one, none missing.
struct Client {
    explicit Client(int port) : http("127.0.0.1", port) {
        http.set_read_timeout(60);
        thread = std::thread([this] {
            http.Get("/readings/stream?after=0", [this](const char* data, size_t size) {
                pending.append(data, size);
                size_t at;
                while ((at = pending.find("\n\n")) != std::string::npos) {
                    if (pending.compare(0, 4, "id: ") == 0) {
                        const uint64_t id = std::strtoull(pending.c_str() + 4, nullptr, 10);
                        if (id != last.load() + 1) ++gaps;
                        last = id;
                    }
                    pending.erase(0, at + 2);
                }
                return !stop;
            });
        });
    }
    void Close() {
        stop = true;
        http.stop();
        thread.join();
    }
    httplib::Client http;
    std::thread thread;
    std::string pending;
    std::atomic<uint64_t> last{0};
    std::atomic<int> gaps{0};
    std::atomic<bool> stop{false};
};

int Run(uint64_t readings, int clients) {
    HttpFeedSettings settings;
    settings.host = "127.0.0.1";
    CHttpFeed feed(settings);
    if (!feed.Start()) return 1;
    std::vector<std::unique_ptr<Client>> streams;
    for (int i = 0; i < clients; ++i) streams.push_back(std::make_unique<Client>(feed.Port()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // every stream open

    const auto start = Clock::now();
    for (uint64_t seq = 1; seq <= readings; ++seq) feed.AddEarlier({Weighing(seq)});
    const auto pushed = Clock::now();
    bool all = false;
    while (!all && Clock::now() - start < std::chrono::seconds(120)) {
        all = true;
        for (const auto& stream : streams) all = all && stream->last == readings;
        if (!all) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto done = Clock::now();
    int lost = 0;
    for (const auto& stream : streams) {
        lost += stream->gaps + static_cast<int>(readings - stream->last);
        stream->Close();
    }
    const double pushMs = std::chrono::duration<double, std::milli>(pushed - start).count();
    const double allMs = std::chrono::duration<double, std::milli>(done - start).count();
    std::printf("feed_throughput readings=%llu clients=%d window_thread_us_per_reading=%.2f all_received_ms=%.0f "
                "readings_per_s=%.0f lost=%d\n",
                static_cast<unsigned long long>(readings), clients, pushMs * 1000 / static_cast<double>(readings),
                allMs, static_cast<double>(readings) * 1000 / allMs, lost);
    return all && lost == 0 ? 0 : 2;
}

}  // namespace
}  // namespace tarvex

int main(int argc, char** argv) {
    uint64_t readings = 200000;
    int clients = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--readings") == 0) readings = std::strtoull(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--clients") == 0) clients = std::atoi(argv[i + 1]);
    }
    return tarvex::Run(readings, clients);
}
