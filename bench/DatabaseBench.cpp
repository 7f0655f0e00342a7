// The database output against a PostgreSQL server of the bench's own
// (tools/test-postgres.sh), in three runs:
//   throughput  N readings waiting in the journal, sent until all are confirmed;
//               beside it the same rows sent by a bare libpq loop of the same
//               INSERTs (the server's own pace, from the same run)
//   latency     readings handed over at a steady rate (as the window hands
//               them over right after the acknowledge), each timed until
//               another connection sees it
//   catch-up    10 000 readings taken while the server is down, timed from
//               the server being back until the last is confirmed
//
//   tarvex-bench-database [--readings N] [--rate R] [--seconds S]
// Prints one line per run; every run checks that each reading is there once.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>

#include <libpq-fe.h>

#include "outputs/DatabaseRows.h"
#include "tests/support/DatabaseDesk.h"
#include "tests/support/RunningPostgres.h"

namespace {

using namespace tarvex;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void WaitForMark(test::Desk& desk, uint64_t seq) {
    while (desk.Mark().value_or(0) < seq) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool EachOnce(test::RunningPostgres& server, const std::string& desk, uint64_t last) {
    return server.Value("SELECT count(*) = " + std::to_string(last) + " AND count(DISTINCT seq) = " +
                        std::to_string(last) + " FROM readings WHERE desk = '" + desk + "'") == "t";
}

// The same INSERTs from one connection in a loop, nothing else: milliseconds.
double BareLoop(test::RunningPostgres& server, uint64_t readings) {
    PGconn* connection = PQconnectdb(server.Connection().c_str());
    std::vector<RowRecord> batch;
    const auto start = Clock::now();
    for (uint64_t seq = 1; seq <= readings; ++seq) {
        batch.push_back(test::Weighing(seq));
        batch.back().desk = "bare";
        if (batch.size() < DATABASE_BATCH_READINGS && seq < readings) continue;
        const auto values = InsertValues(batch, L"");
        std::vector<const char*> pointers;
        for (const auto& value : values) pointers.push_back(value ? value->c_str() : nullptr);
        PGresult* result = PQexecParams(connection, InsertSql("\"readings\"", batch.size()).c_str(),
                                        static_cast<int>(pointers.size()), nullptr, pointers.data(), nullptr, nullptr, 0);
        if (PQresultStatus(result) != PGRES_COMMAND_OK) std::fprintf(stderr, "%s", PQerrorMessage(connection));
        PQclear(result);
        batch.clear();
    }
    const double ms = Ms(Clock::now() - start);
    PQfinish(connection);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t readings = 100000;
    double rate = 137, seconds = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--readings")) readings = std::stoull(argv[i + 1]);
        if (!std::strcmp(argv[i], "--rate")) rate = std::stod(argv[i + 1]);
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::stod(argv[i + 1]);
    }
    test::RunningPostgres server;

    {
        test::Desk desk(server.Connection(), "readings", "throughput");
        desk.Add(1);
        WaitForMark(desk, 1);  // the table made, the connection open
        const auto start = Clock::now();
        desk.Add(readings - 1);
        WaitForMark(desk, readings);
        const double ms = Ms(Clock::now() - start);
        std::printf("database_throughput readings=%llu ms=%.0f per_second=%.0f each_once=%d\n",
                    static_cast<unsigned long long>(readings), ms, static_cast<double>(readings - 1) * 1000 / ms,
                    EachOnce(server, "throughput", readings));
        const double bare = BareLoop(server, readings);
        std::printf("baseline_bare_libpq readings=%llu ms=%.0f per_second=%.0f each_once=%d\n",
                    static_cast<unsigned long long>(readings), bare, static_cast<double>(readings) * 1000 / bare,
                    EachOnce(server, "bare", readings));
    }

    {
        test::Desk desk(server.Connection(), "readings", "latency");
        const auto count = static_cast<uint64_t>(rate * seconds);
        std::vector<Clock::time_point> handed(count + 1), seen(count + 1);
        std::atomic<bool> done{false};
        // Another connection, asking as often as it can.
        std::thread look([&] {
            const auto viewer = server.AnotherLook();
            uint64_t known = 0;
            while (known < count) {
                const uint64_t newest = std::stoull(
                    "0" + viewer->Value("SELECT max(seq) FROM readings WHERE desk = 'latency'"));
                const auto now = Clock::now();
                for (uint64_t s = known + 1; s <= newest; ++s) seen[s] = now;
                known = std::max(known, newest);
            }
            done = true;
        });
        const auto start = Clock::now();
        for (uint64_t k = 1; k <= count; ++k) {
            std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(static_cast<double>(k - 1) / rate)));
            handed[k] = Clock::now();
            desk.Add(1);
        }
        look.join();
        std::vector<double> delays;
        for (uint64_t k = 1; k <= count; ++k) delays.push_back(Ms(seen[k] - handed[k]));
        std::sort(delays.begin(), delays.end());
        std::printf("database_ack_to_visible_ms median=%.2f p99=%.2f max=%.2f readings=%llu rate=%.0f each_once=%d\n",
                    delays[delays.size() / 2], delays[delays.size() * 99 / 100], delays.back(),
                    static_cast<unsigned long long>(count), rate, EachOnce(server, "latency", count));
    }

    {
        test::Desk desk(server.Connection(), "readings", "catch-up");
        desk.Add(1);
        WaitForMark(desk, 1);
        server.Stop(true);
        desk.Add(10000);
        // Until it has failed once: it then waits a second before trying again.
        while (desk.Told().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        server.Start();
        const auto back = Clock::now();
        WaitForMark(desk, 10001);
        std::printf("database_catch_up readings=10000 ms_from_server_back=%.0f each_once=%d\n", Ms(Clock::now() - back),
                    EachOnce(server, "catch-up", 10001));
    }
    return 0;
}
