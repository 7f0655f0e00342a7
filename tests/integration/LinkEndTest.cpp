// Every way the program ends a link tells the scale so: 0x3A after every
// acknowledge already asked for, with a scale that sends its next frame as
// soon as it is acknowledged. Each path is run many times, since a lost
// stop byte is a race that a single run rarely shows.

#include <algorithm>
#include <cstdio>

#include "tests/integration/RunningScale.h"
#include "tests/integration/WindowFixture.h"

namespace tarvex::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int RUNS = 40;

class LinkEndTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        WriteSetting(kEnglishSetting);
    }
    CPortMap ScalePort() const {
        CPortMap map = CPortMap::Empty();
        map.Set(1, scale.pty.DevicePath());
        return map;
    }
    void ConnectAndStream() {
        static_cast<wxChoice*>(dlg->FindWindow(IDC_PORT_COMBO))->SetSelection(1);
        Click(dlg, IDC_OPEN_CLOSE);
        ASSERT_TRUE(PumpUntil([&] { return dlg->Session().IsConnected(); }, 2500));
        const int before = Rows();
        ASSERT_TRUE(PumpUntil([&] { return Rows() >= before + 3; }, 3000));
    }
    uint64_t Stops() const { return scale.sim.Stats().stops.load(); }
    uint64_t Acks() const { return scale.sim.Stats().acks.load(); }
    uint64_t Handshakes() const { return scale.sim.Stats().handshakes.load(); }
    static double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

    RunningScale scale{"good:1.5", 0};
};

TEST_F(LinkEndTest, DisconnectAlwaysDeliversTheStopByteWithoutBlocking) {
    Open(ScalePort());
    double longestMs = 0;
    int delivered = 0;
    for (int run = 0; run < RUNS; ++run) {
        ConnectAndStream();
        const uint64_t before = Stops();
        const auto pressed = Clock::now();
        Click(dlg, IDC_OPEN_CLOSE);
        longestMs = std::max(longestMs, Ms(Clock::now() - pressed));
        ASSERT_FALSE(dlg->Session().IsConnected());
        if (PumpUntil([&] { return Stops() > before; }, 1000)) ++delivered;
    }
    EXPECT_EQ(delivered, RUNS);
    // Every row's acknowledge went out before its link ended.
    EXPECT_TRUE(PumpUntil([&] { return Acks() == static_cast<uint64_t>(Rows()); }, 1000))
        << Acks() << " acknowledges for " << Rows() << " rows";
    std::printf("[ figures  ] Disconnect: 0x3A delivered %d of %d, window thread blocked at most %.2f ms\n",
                delivered, RUNS, longestMs);
}

TEST_F(LinkEndTest, ClosingTheWindowAlwaysDeliversTheStopByte) {
    double longestMs = 0;
    int delivered = 0;
    for (int run = 0; run < RUNS; ++run) {
        std::filesystem::remove_all(dir.Path() / "user-data");  // each run as on a fresh machine
        Open(ScalePort());
        ConnectAndStream();
        const uint64_t before = Stops();
        modal.Answer(IDYES_ANSWER);  // the table still holds readings
        const auto asked = Clock::now();
        dlg->Close();
        longestMs = std::max(longestMs, Ms(Clock::now() - asked));
        dlg->Destroy();
        dlg = nullptr;
        Flush();
        if (PumpUntil([&] { return Stops() > before; }, 1000)) ++delivered;
    }
    EXPECT_EQ(delivered, RUNS);
    std::printf("[ figures  ] Close: 0x3A delivered %d of %d, close took at most %.2f ms\n",
                delivered, RUNS, longestMs);
}

TEST_F(LinkEndTest, FullTableAlwaysDeliversTheLastAcknowledgeAndTheStopByte) {
    const RowLimits limits{1000, 5};  // full at row number 5: six rows a cycle
    Open(ScalePort(), limits);
    static_cast<wxChoice*>(dlg->FindWindow(IDC_PORT_COMBO))->SetSelection(1);
    Click(dlg, IDC_OPEN_CLOSE);
    // The cycles go on by themselves, with nothing to answer; end one by
    // hand once enough have run. Each full table greeted the scale anew.
    ASSERT_TRUE(PumpUntil([&] { return Handshakes() > static_cast<uint64_t>(RUNS) && dlg->Session().IsConnected(); },
                          60000));
    const uint64_t fullTables = Handshakes() - 1;
    Click(dlg, IDC_OPEN_CLOSE);
    EXPECT_TRUE(PumpUntil([&] { return Stops() == fullTables + 1; }, 1000))
        << Stops() << " stop bytes for " << fullTables << " full tables and a disconnect";
    const uint64_t rows = fullTables * static_cast<uint64_t>(limits.fullRow + 1) + static_cast<uint64_t>(Rows());
    EXPECT_TRUE(PumpUntil([&] { return Acks() == rows; }, 1000)) << Acks() << " acknowledges for " << rows << " rows";
    std::printf("[ figures  ] Full table: %llu stop bytes for %llu full tables, %llu acknowledges for %llu rows\n",
                static_cast<unsigned long long>(Stops() - 1), static_cast<unsigned long long>(fullTables),
                static_cast<unsigned long long>(Acks()), static_cast<unsigned long long>(rows));
}

}  // namespace
}  // namespace tarvex::test
