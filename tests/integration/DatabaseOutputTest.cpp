// The database output against a real PostgreSQL server of the test's own:
// the table made, every reading in it once, the server crashing and coming
// back, and each kind of trouble told once while the readings wait.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "tests/support/FeedRecords.h"
#include "tests/support/DatabaseDesk.h"
#include "tests/support/RunningPostgres.h"

namespace tarvex {
namespace {

using Clock = std::chrono::steady_clock;
using test::Desk;
using test::RunningPostgres;

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 20000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Every seq of the desk from 1 to last in the table exactly once.
void ExpectEachOnce(RunningPostgres& server, const std::string& desk, uint64_t last) {
    const auto counts = server.Query("SELECT count(*), count(DISTINCT seq), coalesce(min(seq), 0), coalesce(max(seq), 0) "
                                     "FROM readings WHERE desk = '" + desk + "'");
    EXPECT_EQ(counts[0], (std::vector<std::string>{std::to_string(last), std::to_string(last), last ? "1" : "0",
                                                   std::to_string(last)}));
}

RowRecord Damaged(uint64_t seq) {
    RowRecord record = test::Weighing(seq);
    record.kind = RowKind::Error;
    record.cells[1] = L"";
    record.cells[5] = std::wstring(L"Damaged frame: ") + L'\x5F' + L'\xFF' + L'\x00';
    return record;
}

TEST(DatabaseOutput, MakesTheTableAndHoldsEachReadingOnceAsTheTableShowedIt) {
    RunningPostgres server;
    Desk desk(server.Connection());
    desk.Add(2500);
    desk.Add(1, Damaged);
    ASSERT_TRUE(WaitUntil([&] { return desk.Mark() == 2501u; }));
    ExpectEachOnce(server, "desk-1", 2501);
    EXPECT_EQ(server.Query("SELECT number, kind, kg, shown, unit, taken_at = to_timestamp(1765281600), duration,"
                           " remark IS NULL, raw IS NULL, received_at IS NOT NULL FROM readings WHERE seq = 7")[0],
              (std::vector<std::string>{"7", "weight", "1.25", "1.2500", "KG", "t", "00:00:01", "t", "t", "t"}));
    EXPECT_EQ(server.Query("SELECT kind, kg IS NULL, remark, encode(raw, 'hex') FROM readings WHERE seq = 2501")[0],
              (std::vector<std::string>{"error", "t", "Damaged frame:", "5fff00"}));
    // Sent again (a crash before the mark was written): the server keeps one.
    desk.SendAgainFrom(1);
    ASSERT_TRUE(WaitUntil([&] { return !desk.queue->Behind(); }));
    ExpectEachOnce(server, "desk-1", 2501);
    EXPECT_TRUE(desk.Told().empty());
}

TEST(DatabaseOutput, AServerThatCrashesMidStreamAndComesBackGetsEveryReadingOnce) {
    RunningPostgres server;
    Desk first(server.Connection(), "readings", "desk-1");
    Desk second(server.Connection(), "readings", "desk-2");
    std::atomic<bool> streaming{true};
    std::thread scale([&] {
        while (streaming) {
            first.Add(7);
            second.Add(5);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return first.Mark().value_or(0) > 500; }));
    server.Stop(true);
    ASSERT_TRUE(WaitUntil([&] { return !first.Told().empty() && !second.Told().empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // readings taken while it is away
    server.Start();
    ASSERT_TRUE(WaitUntil([&] { return first.Told().size() >= 2 && second.Told().size() >= 2; }, 60000));
    streaming = false;
    scale.join();
    ASSERT_TRUE(WaitUntil([&] { return first.Mark() == first.Last() && second.Mark() == second.Last(); }));
    ExpectEachOnce(server, "desk-1", first.Last());
    ExpectEachOnce(server, "desk-2", second.Last());
    // Told as it stopped, anew only when the server's reason changed (gone,
    // then refusing, then starting up), and once when it took them again.
    for (Desk* desk : {&first, &second}) {
        const auto told = desk->Told();
        ASSERT_GE(told.size(), 2u);
        EXPECT_FALSE(told.back()) << "delivered again";
        for (size_t i = 0; i + 1 < told.size(); ++i) {
            ASSERT_TRUE(told[i]);
            EXPECT_FALSE(told[i]->reason.empty());
            if (i > 0) {
                EXPECT_NE(told[i]->reason, told[i - 1]->reason);
            }
        }
    }
}

struct Trouble {
    const char* name;
    std::function<std::string(RunningPostgres&)> connection;
    std::function<void(RunningPostgres&)> before;  // makes the trouble
    std::function<void(RunningPostgres&)> mend;
    const char* reasonPart;
    std::vector<std::string> missingColumns;
};

class DatabaseTroubleTest : public ::testing::TestWithParam<Trouble> {};

TEST_P(DatabaseTroubleTest, IsToldOnceInWordsAndTheReadingsWaitUntilItIsMended) {
    const Trouble& trouble = GetParam();
    RunningPostgres server;
    trouble.before(server);
    Desk desk(trouble.connection(server));
    desk.Add(30);
    ASSERT_TRUE(WaitUntil([&] { return !desk.Told().empty(); }));
    // Tries on a second, then two, then four: none told again.
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    desk.Add(20);
    const auto told = desk.Told();
    ASSERT_EQ(told.size(), 1u);
    ASSERT_TRUE(told[0]);
    EXPECT_NE(told[0]->reason.find(trouble.reasonPart), std::string::npos) << told[0]->reason;
    EXPECT_EQ(told[0]->reason.find("secret-pass"), std::string::npos) << told[0]->reason;
    EXPECT_EQ(told[0]->missingColumns, trouble.missingColumns);
    trouble.mend(server);
    ASSERT_TRUE(WaitUntil([&] { return desk.Mark() == 50u; }, 30000));
    ExpectEachOnce(server, "desk-1", 50);
    EXPECT_EQ(desk.Told().size(), 2u);
}

const auto NOTHING = [](RunningPostgres&) {};

INSTANTIATE_TEST_SUITE_P(
    Each, DatabaseTroubleTest,
    ::testing::Values(
        Trouble{"WrongPassword", [](RunningPostgres& s) { return s.Connection("secret-pass"); }, NOTHING,
                [](RunningPostgres& s) { s.Query("ALTER ROLE desk PASSWORD 'secret-pass'"); },
                "password authentication failed", {}},
        Trouble{"ServerNotStarted", [](RunningPostgres& s) { return s.Connection(); },
                [](RunningPostgres& s) { s.Stop(false); }, [](RunningPostgres& s) { s.Start(); }, "Connection refused",
                {}},
        Trouble{"TableWithOtherColumns", [](RunningPostgres& s) { return s.Connection(); },
                [](RunningPostgres& s) {
                    s.Query("CREATE TABLE readings (desk text, seq bigint, weight text, PRIMARY KEY (desk, seq))");
                    s.Query("ALTER TABLE readings OWNER TO desk");
                },
                [](RunningPostgres& s) {
                    s.Query("ALTER TABLE readings ADD number integer, ADD kind text, ADD kg numeric, ADD shown text,"
                            " ADD unit text, ADD taken_at timestamptz, ADD duration text, ADD remark text, ADD raw bytea");
                },
                "", {"number", "kind", "kg", "shown", "unit", "taken_at", "duration", "remark", "raw"}}),
    [](const auto& each) { return std::string(each.param.name); });

TEST(DatabaseOutput, AStopEndsTheWaitForAServerThatDoesNotAnswer) {
    test::BlackholedPort silent;
    Desk desk("host=127.0.0.1 port=" + std::to_string(silent.Port()) + " dbname=weighing user=desk connect_timeout=60");
    desk.Add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the connect is under way
    const auto stopping = Clock::now();
    desk.Close();
    EXPECT_LT(Clock::now() - stopping, std::chrono::seconds(1));
    EXPECT_TRUE(desk.Told().empty());
}

}  // namespace
}  // namespace tarvex
