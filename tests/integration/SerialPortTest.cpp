// The real driver against pseudo-terminals of its own; no display needed.

#include <gtest/gtest.h>


#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/OwnerThread.h"
#include "tests/integration/ProcessCpu.h"
#include "simulator/PseudoTerminal.h"
#include "serial/SerialPlatform.h"
#include "serial/SerialPort.h"
#include "tests/support/TempDir.h"

namespace tarvex::test {
namespace {

using Bytes = std::vector<uint8_t>;
using sim::CPseudoTerminal;

class SerialPortTest : public ::testing::Test {
protected:
    // COM1 is the scale's pty; no other number has a device.
    void SetUp() override {
        CPortMap map = CPortMap::Empty();
        map.Set(1, scale.DevicePath());
        port.SetPortMap(map);
    }

    size_t Bursts() { return owner.Read<size_t>([&] { return owner.bursts.size(); }); }
    Bytes Burst(size_t i) { return owner.Read<Bytes>([&] { return owner.bursts.at(i); }); }

    CPseudoTerminal scale;
    OwnerThread owner;
    CSerialPort port;  // destroyed first: its reader ends before the owner goes
};

TEST_F(SerialPortTest, AbsentDeviceFailsSilentlyThenPresentOneOpens) {
    EXPECT_FALSE(port.OpenPort(&owner, 7));
    EXPECT_FALSE(port.OpenPort(&owner, 30));
    EXPECT_TRUE(port.OpenPort(&owner, 1));
    EXPECT_TRUE(owner.errors.empty());
}

TEST_F(SerialPortTest, OneBurstPerDrainAndBytesGatheredDuringAHandOff) {
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    ASSERT_TRUE(port.StartReader());
    owner.SetGate(false);
    scale.Send({0x5F, 0x02, 0x00, 0x30, 0x39, 0x54});
    ASSERT_TRUE(owner.WaitFor([&] { return owner.bursts.size() == 1; }, 2000));
    EXPECT_EQ(Burst(0), (Bytes{0x5F, 0x02, 0x00, 0x30, 0x39, 0x54}));
    // While the window is busy with that burst, three more writes arrive...
    for (uint8_t b : {uint8_t{1}, uint8_t{2}, uint8_t{3}}) {
        scale.Send({b, b});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    owner.SetGate(true);
    // ...and are handed over together by the next drain.
    ASSERT_TRUE(owner.WaitFor([&] { return owner.bursts.size() == 2; }, 2000));
    EXPECT_EQ(Burst(1), (Bytes{1, 1, 2, 2, 3, 3}));
}

TEST_F(SerialPortTest, LongBurstIsDeliveredInFullBuffers) {
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    owner.SetGate(false);
    ASSERT_TRUE(port.StartReader());
    scale.Send({0x00});
    ASSERT_TRUE(owner.WaitFor([&] { return owner.bursts.size() == 1; }, 2000));
    scale.Send(Bytes(3000, 0x41));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    owner.SetGate(true);
    ASSERT_TRUE(owner.WaitFor([&] {
        size_t total = 0;
        for (size_t i = 1; i < owner.bursts.size(); ++i) total += owner.bursts[i].size();
        return total == 3000;
    }, 2000));
    for (size_t i = 1; i < Bursts(); ++i) EXPECT_LE(Burst(i).size(), 1024u);
}

TEST_F(SerialPortTest, WriteRequestReachesTheScale) {
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    ASSERT_TRUE(port.StartReader());
    const uint8_t ack = 0x9F;
    port.RequestWrite(&ack, 1);
    EXPECT_EQ(scale.Receive(2000), Bytes{0x9F});
}

TEST_F(SerialPortTest, StopWinsOverAPendingWrite) {
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    ASSERT_TRUE(port.StartReader());
    owner.SetGate(false);
    scale.Send({0x5F});
    ASSERT_TRUE(owner.WaitFor([&] { return owner.bursts.size() == 1; }, 2000));
    // Asked for while the reader waits on the window: the stop comes first.
    const uint8_t stop = 0x3A;
    port.RequestWrite(&stop, 1);
    port.RequestStop();
    for (int i = 0; i < 200 && port.ReaderRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(port.ReaderRunning());
    owner.SetGate(true);
    EXPECT_TRUE(scale.Receive(300).empty());
}

TEST_F(SerialPortTest, SendThenStopSendsEveryQueuedByteInOrderThenEnds) {
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    ASSERT_TRUE(port.StartReader());
    owner.SetGate(false);
    scale.Send({0x5F});
    ASSERT_TRUE(owner.WaitFor([&] { return owner.bursts.size() == 1; }, 2000));
    // Both asked for while the reader waits on a busy window: the
    // acknowledge must not be overwritten and the window need not answer.
    const uint8_t ack = 0x9F, stop = 0x3A;
    port.RequestWrite(&ack, 1);
    port.RequestSendThenStop(&stop, 1);
    EXPECT_TRUE(port.WaitForFinish(FINISH_WAIT_MS));
    EXPECT_FALSE(port.ReaderRunning());
    EXPECT_EQ(scale.Receive(500, 2), (Bytes{0x9F, 0x3A}));
    owner.SetGate(true);
}

TEST_F(SerialPortTest, SendThenStopGoesFirstWhenTheScaleKeepsSending) {
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    ASSERT_TRUE(port.StartReader());
    std::atomic<bool> quit{false};
    std::thread flood([&] {
        while (!quit) {
            scale.Send({0x5F, 0x02, 0x00, 0x30, 0x39, 0x54});
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    ASSERT_TRUE(owner.WaitFor([&] { return owner.bursts.size() >= 3; }, 2000));
    const uint8_t stop = 0x3A;
    port.RequestSendThenStop(&stop, 1);
    EXPECT_TRUE(port.WaitForFinish(FINISH_WAIT_MS));
    quit = true;
    flood.join();
    EXPECT_EQ(scale.Receive(500), Bytes{0x3A});
}

TEST_F(SerialPortTest, SendThenStopRightBehindAWriteStillEndsTheReader) {
    // The request may land while the reader takes up the write before it.
    for (int round = 0; round < 100; ++round) {
        ASSERT_TRUE(port.OpenPort(&owner, 1));
        ASSERT_TRUE(port.StartReader());
        const uint8_t ack = 0x9F, stop = 0x3A;
        port.RequestWrite(&ack, 1);
        std::this_thread::sleep_for(std::chrono::microseconds(round * 3));
        port.RequestSendThenStop(&stop, 1);
        ASSERT_TRUE(port.WaitForFinish(FINISH_WAIT_MS)) << "round " << round;
        ASSERT_EQ(scale.Receive(500, 2), (Bytes{0x9F, 0x3A})) << "round " << round;
    }
}

TEST_F(SerialPortTest, StopRequestedBeforeOpenDoesNotEndTheNewReader) {
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    port.RequestStop();
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    ASSERT_TRUE(port.StartReader());
    scale.Send({0x3F});
    ASSERT_TRUE(owner.WaitFor([&] { return owner.bursts.size() == 1; }, 2000));
    EXPECT_TRUE(port.ReaderRunning());
}

TEST_F(SerialPortTest, OpenFromTheWindowThreadWhileTheReaderWaitsOnIt) {
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    std::atomic<bool> reopened{false};
    // Inside the hand-off, as the automatic search does after a wrong answer.
    // Set before the reader starts, so the owner thread sees it in order.
    owner.onData = [&] {
        owner.onData = nullptr;
        reopened = port.OpenPort(&owner, 1) && port.StartReader();
    };
    ASSERT_TRUE(port.StartReader());
    scale.Send({0x00});
    ASSERT_TRUE(owner.WaitFor([&] { return owner.bursts.size() == 1; }, 2000));
    for (int i = 0; i < 200 && !reopened; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(reopened);
    scale.Send({0x01});
    EXPECT_TRUE(owner.WaitFor([&] { return owner.bursts.size() == 2; }, 2000));
}

TEST_F(SerialPortTest, HeldPortIsNotFoundByTheProbe) {
    EXPECT_TRUE(port.ProbePorts());
    EXPECT_EQ(port.PortTable()[0], 1);
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    EXPECT_FALSE(port.ProbePorts());  // this program holds it
    EXPECT_EQ(port.PortTable()[0], 0);
    int error = 0;
    EXPECT_EQ(platform::OpenExclusive(scale.DevicePath(), error), platform::NO_PORT);
    EXPECT_FALSE(platform::IsPermissionError(error));
}

TEST(PortProbe, FindsExactlyTheMappedPortsInOrder) {
    CPseudoTerminal a, b, c;
    struct Case {
        std::vector<std::pair<int, CPseudoTerminal*>> mapped;
        std::vector<int> found;
    };
    const Case cases[] = {
        {{{5, &a}}, {5}},
        {{{4, &c}, {1, &a}, {3, &b}}, {1, 3, 4}},
        {{{29, &a}, {2, &b}}, {2, 29}},
    };
    for (const Case& k : cases) {
        CSerialPort port;
        CPortMap map = CPortMap::Empty();
        for (const auto& [n, pty] : k.mapped) map.Set(n, pty->DevicePath());
        map.Set(30, c.DevicePath());  // there is no COM30
        port.SetPortMap(map);
        ASSERT_TRUE(port.ProbePorts());
        ASSERT_EQ(port.PortTable()[0], static_cast<int>(k.found.size()));
        for (size_t i = 0; i < k.found.size(); ++i) EXPECT_EQ(port.PortTable()[i + 1], k.found[i]);
    }
    CSerialPort none;
    none.SetPortMap(CPortMap::Empty());
    EXPECT_FALSE(none.ProbePorts());
}

TEST(PortPurge, ThrowsAwayReceivedBytesNotYetRead) {
    CPseudoTerminal scale;
    int error = 0;
    const platform::PortHandle fd = platform::OpenExclusive(scale.DevicePath(), error);
    ASSERT_NE(fd, platform::NO_PORT);
    const char* step = nullptr;
    ASSERT_TRUE(platform::Configure(fd, LineSettings{}, step, error));
    scale.Send({1, 2, 3, 4});
    int waiting = 0;
    for (int i = 0; i < 100 && waiting < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        waiting = platform::QueueCount(fd, error);
    }
    ASSERT_EQ(waiting, 4);
    platform::Purge(fd);
    EXPECT_EQ(platform::QueueCount(fd, error), 0);
    platform::Close(fd);
}

TEST_F(SerialPortTest, UnplugGivesOneReportEndsTheReaderAndDoesNotSpin) {
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    ASSERT_TRUE(port.StartReader());
    scale.Send({0x3F});
    ASSERT_TRUE(owner.WaitFor([&] { return owner.bursts.size() == 1; }, 2000));
    scale.Unplug();
    ASSERT_TRUE(owner.WaitFor([&] { return owner.removed.size() == 1; }, 2000));
    const double cpuBefore = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(CpuSeconds() - cpuBefore, 0.1);
    EXPECT_FALSE(port.ReaderRunning());
    owner.Read<int>([&] {
        EXPECT_EQ(owner.errors.size(), 1u);
        if (!owner.errors.empty()) {
            EXPECT_NE(owner.errors[0].find(L"Application Error|WARNING:  "), std::wstring::npos);
            EXPECT_NE(owner.errors[0].find(L"\nPort: 1\n"), std::wstring::npos);
        }
        EXPECT_EQ(owner.removed, std::vector<unsigned>{1});
        return 0;
    });
}

TEST_F(SerialPortTest, APortCanBeOpenedAgainAfterEachKindOfClose) {
    // Root ignores the exclusive flag, a normal user does not: it must be
    // cleared by every close, the probe's included.
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(port.ProbePorts()) << "round " << round;
        ASSERT_TRUE(port.OpenPort(&owner, 1)) << "round " << round;
        ASSERT_TRUE(port.StartReader());
        const uint8_t stop = 0x3A;
        port.RequestSendThenStop(&stop, 1);
        ASSERT_TRUE(port.WaitForFinish(FINISH_WAIT_MS));
        int error = 0;
        const platform::PortHandle other = platform::OpenExclusive(scale.DevicePath(), error);
        ASSERT_NE(other, platform::NO_PORT) << "round " << round << ": error " << error;
        platform::Close(other);
    }
}

TEST(PortProbe, ADeviceThisUserMayNotOpenIsNamedAsRefused) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may open any device; runs in the unprivileged pass";
    TempDir dir;
    dir.Write("locked-tty", "");
    const std::string locked = (dir.Path() / "locked-tty").string();
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    CPseudoTerminal free;
    struct Case {
        std::vector<std::string> devices;
        std::string refused;
        int found;
    };
    const Case cases[] = {
        {{locked}, locked, 0},
        {{"/nonexistent/ttyUSB0"}, "", 0},
        {{locked, free.DevicePath()}, locked, 1},
    };
    for (const Case& k : cases) {
        CSerialPort port;
        CPortMap map = CPortMap::Empty();
        for (size_t i = 0; i < k.devices.size(); ++i) map.Set(static_cast<int>(i) + 1, k.devices[i]);
        port.SetPortMap(map);
        EXPECT_EQ(port.ProbePorts(), k.found > 0);
        EXPECT_EQ(port.PortTable()[0], k.found);
        EXPECT_EQ(port.RefusedDevice(), k.refused);
    }
    EXPECT_FALSE(platform::OwningGroup(locked).empty());
}

TEST(SerialPortLife, DestroyingEndsTheReaderAndANeverOpenedPortGoesAtOnce) {
    { CSerialPort never; }
    CPseudoTerminal scale;
    OwnerThread owner;
    {
        CSerialPort port;
        CPortMap map = CPortMap::Empty();
        map.Set(1, scale.DevicePath());
        port.SetPortMap(map);
        ASSERT_TRUE(port.OpenPort(&owner, 1));
        ASSERT_TRUE(port.StartReader());
        owner.SetGate(false);
        scale.Send({0x01});
        ASSERT_TRUE(owner.WaitFor([&] { return owner.bursts.size() == 1; }, 2000));
    }  // the reader is inside a hand-off here; the destructor must still return
    owner.SetGate(true);
}

}  // namespace
}  // namespace tarvex::test
