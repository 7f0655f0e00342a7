// The real driver through Debian's ser2net on loopback, in front of a
// pseudo-terminal of the test's own: raw TCP and Telnet with RFC 2217.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <numeric>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "tests/support/OwnerThread.h"
#include "tests/support/ResidentMemory.h"
#include "tests/support/RunningSer2net.h"
#include "simulator/PseudoTerminal.h"

namespace tarvex::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes EveryByteValue() {
    Bytes all(256);
    std::iota(all.begin(), all.end(), 0);
    return all;
}

// For what no notification tells: polled.
bool Eventually(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class NetworkPortTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        CPortMap map = CPortMap::Empty();
        map.Set(12, server.Entry());
        port.SetPortMap(map);
    }
    bool Connect() {
        const size_t before = Received().size();
        if (!port.OpenPort(&owner, 12) || !port.StartReader()) return false;
        // Reached once a byte goes through: the server opens the device as
        // the client comes.
        const uint8_t hello = 0x3F;
        port.RequestWrite(&hello, 1);
        return scale.Receive(5000) == Bytes{0x3F} && Received().size() == before;
    }
    Bytes Received() {
        return owner.Read<Bytes>([&] {
            Bytes all;
            for (const auto& burst : owner.bursts) all.insert(all.end(), burst.begin(), burst.end());
            return all;
        });
    }

    sim::CPseudoTerminal scale{true};
    RunningSer2net server{scale.DevicePath(), GetParam()};
    OwnerThread owner;
    CSerialPort port;
};

TEST_P(NetworkPortTest, EveryByteValueGoesThroughBothWays) {
    ASSERT_TRUE(Connect()) << server.Log();
    scale.Send(EveryByteValue());
    ASSERT_TRUE(owner.WaitFor([&] {
        size_t total = 0;
        for (const auto& burst : owner.bursts) total += burst.size();
        return total >= 256;
    }, 5000));
    EXPECT_EQ(Received(), EveryByteValue());
    const Bytes all = EveryByteValue();
    port.RequestWrite(all.data(), static_cast<int>(all.size()));
    EXPECT_EQ(scale.Receive(5000, 256), all);
    EXPECT_TRUE(owner.errors.empty());
    EXPECT_TRUE(owner.settingsKept.empty());  // ser2net takes 9600 8N1 on a pty
}

TEST_P(NetworkPortTest, AServerThatGoesIsOneReportAndTheLinkOpensAgainOnItsReturn) {
    ASSERT_TRUE(Connect()) << server.Log();
    server.Stop();
    ASSERT_TRUE(owner.WaitFor([&] { return !owner.removed.empty() && !owner.errors.empty(); }, 5000));
    ASSERT_TRUE(Eventually([&] { return !port.ReaderRunning(); }, 5000));
    EXPECT_EQ(owner.removed, std::vector<unsigned>{12});
    ASSERT_EQ(owner.errors.size(), 1u);
    EXPECT_NE(owner.errors[0].find(L"Port: 12 (127.0.0.1:" + std::to_wstring(server.Port()) + L")"),
              std::wstring::npos)
        << owner.errors[0];

    // While it is away, a try is no report, only the word that no answer comes.
    EXPECT_TRUE(port.OpenPort(&owner, 12));
    EXPECT_TRUE(port.StartReader());
    ASSERT_TRUE(owner.WaitFor([&] { return owner.unreached.size() == 1; }, 5000));
    EXPECT_EQ(owner.errors.size(), 1u);

    server.Start();
    ASSERT_TRUE(Connect()) << server.Log();
    scale.Send({0x5F, 0x02});
    ASSERT_TRUE(owner.WaitFor([&] { return !owner.bursts.empty(); }, 5000));
    EXPECT_EQ(Received(), (Bytes{0x5F, 0x02}));
}

TEST_P(NetworkPortTest, EndingTheLinkSendsTheStopByteAndFreesTheServerAtOnce) {
    ASSERT_TRUE(Connect()) << server.Log();
    const uint8_t stop = 0x3A;
    port.RequestSendThenStop(&stop, 1);
    EXPECT_TRUE(port.WaitForFinish(2000));
    EXPECT_EQ(scale.Receive(5000), Bytes{0x3A});
    // ser2net takes one client: a second one is served only once the first is gone.
    OwnerThread otherOwner;
    CSerialPort other;
    CPortMap map = CPortMap::Empty();
    map.Set(12, server.Entry());
    other.SetPortMap(map);
    ASSERT_TRUE(other.OpenPort(&otherOwner, 12));
    ASSERT_TRUE(other.StartReader());
    const uint8_t hello = 0x3F;
    other.RequestWrite(&hello, 1);
    EXPECT_EQ(scale.Receive(5000), Bytes{0x3F}) << server.Log();
}

INSTANTIATE_TEST_SUITE_P(BothKinds, NetworkPortTest, ::testing::Values(false, true),
                         [](const auto& kind) { return kind.param ? "Rfc2217" : "RawTcp"; });

TEST(NetworkPortProbe, AllAreAskedAtOnceAndOnlyTheServerThatAnswersCounts) {
    sim::CPseudoTerminal scale(true);
    RunningSer2net server(scale.DevicePath(), true);
    BlackholedPort silent[4];
    CPortMap map = CPortMap::Empty();
    map.Set(3, "socket://127.0.0.1:" + std::to_string(FreeLoopbackPort()));  // refused
    map.Set(7, server.Entry());
    map.Set(11, "rfc2217://no-such-host.invalid:4001");
    for (int k = 0; k < 4; ++k) map.Set(12 + k, silent[k].Entry());
    CSerialPort port;
    port.SetPortMap(map);
    int drawn = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(port.ProbePorts([&] { ++drawn; }));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(port.PortTable()[0], 1);
    EXPECT_EQ(port.PortTable()[1], 7);
    // The window was given its turns while the silent ones were waited for,
    // and they were not asked one after another: that takes 2 s at least.
    EXPECT_GT(drawn, 5);
    EXPECT_LT(took, std::chrono::milliseconds(1500));

    // The probe let go at once: the one-client server takes the real link.
    OwnerThread owner;
    ASSERT_TRUE(port.OpenPort(&owner, 7));
    ASSERT_TRUE(port.StartReader());
    const uint8_t hello = 0x3F;
    port.RequestWrite(&hello, 1);
    EXPECT_EQ(scale.Receive(5000), Bytes{0x3F}) << server.Log();
}

TEST(NetworkPortLink, ASilentAddressIsGivenUpWithinTheConnectLimit) {
    BlackholedPort silent;
    CPortMap map = CPortMap::Empty();
    map.Set(4, silent.Entry());
    OwnerThread owner;
    CSerialPort port;
    port.SetPortMap(map);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(port.OpenPort(&owner, 4));  // at once: the reader does the connecting
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    ASSERT_TRUE(port.StartReader());
    ASSERT_TRUE(owner.WaitFor([&] { return owner.unreached.size() == 1; }, 10000));
    EXPECT_TRUE(owner.errors.empty());
    // A stop during the wait ends it without the word.
    ASSERT_TRUE(port.OpenPort(&owner, 4));
    ASSERT_TRUE(port.StartReader());
    port.RequestStop();
    ASSERT_TRUE(Eventually([&] { return !port.ReaderRunning(); }, 1000));
    EXPECT_EQ(owner.unreached.size(), 1u);
}

// A device server the test plays itself on loopback, and the real driver
// linked to it as rfc2217:// COM5.
class HostileServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::listen(listener, 1), 0);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
        CPortMap map = CPortMap::Empty();
        map.Set(5, "rfc2217://127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
        port.SetPortMap(map);
    }
    void TearDown() override {
        port.Shutdown();
        ::shutdown(listener, SHUT_RDWR);  // an accept still waiting ends
        if (server.joinable()) server.join();
        ::close(listener);
    }
    // The server plays play with the connection it accepts; then the link
    // is opened and the client's first data byte, 0x3F, sent.
    void Connect(std::function<void(int)> play) {
        server = std::thread([this, play = std::move(play)] {
            const int client = ::accept(listener, nullptr, nullptr);
            play(client);
            ::close(client);
        });
        ASSERT_TRUE(port.OpenPort(&owner, 5));
        ASSERT_TRUE(port.StartReader());
        const uint8_t hello = 0x3F;
        port.RequestWrite(&hello, 1);
    }
    static void AwaitHello(int client, const std::atomic<bool>& done) {
        for (uint8_t byte = 0; byte != 0x3F && !done;)
            if (::recv(client, &byte, 1, 0) <= 0) break;
    }

    int listener = -1;
    std::thread server;
    OwnerThread owner;
    CSerialPort port;
};

TEST_F(HostileServerTest, WhatItFloodsBeforeTheLinkIsUpIsThrownAwayNotKept) {
    // It never answers the COM-PORT-OPTION and sends 96 MiB of scale data
    // at once, before the link is up (on a slow machine the end of it may
    // come after); then one byte once the link is up.
    std::atomic<bool> done{false};
    const long before = ResidentKiB();
    Connect([&](int client) {
        const Bytes filler(1 << 20, 0x30);
        for (int i = 0; i < 96 && ::send(client, filler.data(), filler.size(), MSG_NOSIGNAL) > 0; ++i) {
        }
        AwaitHello(client, done);
        const Bytes after{0x41};
        ::send(client, after.data(), after.size(), MSG_NOSIGNAL);
        for (uint8_t byte = 0; ::recv(client, &byte, 1, 0) > 0;) {
        }
    });
    EXPECT_TRUE(owner.WaitFor([&] { return !owner.bursts.empty() && owner.bursts.back().back() == 0x41; }, 30000));
    if (MEMORY_MEASURED) {
        EXPECT_LT(ResidentKiB() - before, 32 * 1024) << "KiB grown";
    }
}

TEST_F(HostileServerTest, ASubnegotiationThatNeverEndsLosesTheLinkNotTheDataBeforeIt) {
    // It agrees to the COM-PORT-OPTION; once the link is up, it sends a data
    // byte, then opens a subnegotiation and fills it for ever.
    std::atomic<bool> done{false};
    Connect([&](int client) {
        const Bytes agree{255, 253, 44};
        ::send(client, agree.data(), agree.size(), MSG_NOSIGNAL);
        AwaitHello(client, done);
        // The data byte and the subnegotiation's start in one segment, as a busy server sends them.
        Bytes opening{0x41, 255, 250, 44, 101};
        opening.resize(4096, 0x30);
        ::send(client, opening.data(), opening.size(), MSG_NOSIGNAL);
        const Bytes filler(4096, 0x30);
        while (!done && ::send(client, filler.data(), filler.size(), MSG_NOSIGNAL) > 0) {
        }
    });
    EXPECT_TRUE(owner.WaitFor([&] { return owner.removed.size() == 1; }, 10000));
    EXPECT_TRUE(owner.WaitFor([&] { return !owner.bursts.empty() && owner.bursts[0] == Bytes{0x41}; }, 1000));
    done = true;
}

}  // namespace
}  // namespace tarvex::test
