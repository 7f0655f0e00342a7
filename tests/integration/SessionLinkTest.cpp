// The link to the scale without a display: a session over the real driver
// and the scale simulator on pseudo-terminals, the window's side recorded.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <thread>
#include <memory>

#include "tests/integration/RunningScale.h"
#include "tests/integration/SessionFixture.h"

namespace tarvex::test {
namespace {

using Clock = std::chrono::steady_clock;
using sim::CPseudoTerminal;

const std::wstring kNoAnswer = L"The scale did not answer on this port. Check the cable and the port, then try again.";
const std::wstring kNobodyAnswered = L"No scale answered on any serial port. Check that the scale is on and connected.";

using SessionLinkTest = SessionTest;

TEST_F(SessionLinkTest, AChosenPortWithoutAnswerFailsAfterTwoSeconds) {
    CPseudoTerminal silent;
    Start(Ports({{2, &silent}}));
    const auto pressed = Clock::now();
    Press(1);
    EXPECT_EQ(silent.Receive(1000), std::vector<uint8_t>{0x5A});
    ASSERT_TRUE(ui.PumpUntil([&] { return !ui.told.empty() && !Attempting(); }, 4000));
    EXPECT_EQ(ui.told, std::vector<std::wstring>{kNoAnswer});
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(ui.toldAt[0] - pressed).count();
    EXPECT_GE(waited, 1950);
    EXPECT_LT(waited, 3000);
    EXPECT_FALSE(Connected());
    // The reader was asked to stop with the verdict and ends by itself.
    EXPECT_TRUE(ui.PumpUntil([&] { return !session->Serial().ReaderRunning(); }, 1000));
}

TEST_F(SessionLinkTest, TheAutomaticSearchFindsTheScaleOnTheThirdPortSilently) {
    CPseudoTerminal com1, com3;
    RunningScale scale;
    Start(Ports({{4, &scale.pty}, {1, &com1}, {3, &com3}}));
    EXPECT_EQ(ui.ports, (std::vector<std::wstring>{L"自动检索", L"COM1", L"COM3", L"COM4"}));
    const auto pressed = Clock::now();
    Press(0);
    ASSERT_TRUE(ui.PumpUntil([&] { return Connected(); }, 2000));
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed).count(), 380);
    EXPECT_EQ(session->Serial().PortNumber(), 4u);
    EXPECT_EQ(com1.Receive(200), std::vector<uint8_t>{0x5A});
    EXPECT_EQ(com3.Receive(200), std::vector<uint8_t>{0x5A});
    EXPECT_TRUE(ui.told.empty());  // the failed attempts are silent
    EXPECT_EQ(ui.linkStates, std::vector<bool>{true});
    session->OnOpenCloseConnection();
    EXPECT_EQ(ui.linkStates, (std::vector<bool>{true, false}));
}

TEST_F(SessionLinkTest, ASearchWithoutScaleEndsWithOneNoticeAndAnEarlierAnswerNeverPasses) {
    CPseudoTerminal answering, silent;
    Start(Ports({{1, &answering}, {2, &silent}}));
    Press(1);
    ASSERT_EQ(answering.Receive(1000), std::vector<uint8_t>{0x5A});
    answering.Send({0xA5});  // the last burst this link sees
    ASSERT_TRUE(ui.PumpUntil([&] { return Connected(); }, 2500));
    session->OnOpenCloseConnection();
    ASSERT_FALSE(Connected());

    Press(2);
    ASSERT_TRUE(ui.PumpUntil([&] { return !ui.told.empty() && !Attempting(); }, 3000));
    EXPECT_FALSE(Connected());
    EXPECT_EQ(ui.told, std::vector<std::wstring>{kNoAnswer});
    // With nobody answering now, the search passes over both ports.
    Press(0);
    ASSERT_TRUE(ui.PumpUntil([&] { return ui.told.size() == 2 && !Attempting(); }, 3000));
    EXPECT_FALSE(Connected());
    EXPECT_EQ(ui.told[1], kNobodyAnswered);
}

TEST_F(SessionLinkTest, AFrameInTheBurstOfTheAnswerIsTheFirstReading) {
    CPseudoTerminal scale;
    Start(Ports({{1, &scale}}));
    Press(1);
    ASSERT_EQ(scale.Receive(1000), std::vector<uint8_t>{0x5A});
    // As the reader hands it over: the answer and a weight frame in one burst.
    const std::vector<uint8_t> burst{0xA5, 0x5F, 0x02, 0x00, 0x30, 0x39, 0x54};
    session->OnSerialData(burst.data(), static_cast<int>(burst.size()));
    EXPECT_TRUE(Connected());
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(session->Core().Table().Cell(0, COLUMN_DATA), L"1234.5");
    EXPECT_EQ(scale.Receive(1000), std::vector<uint8_t>{CMD_ACK});
    session->OnOpenCloseConnection();
}

TEST_F(SessionLinkTest, EveryRowOfOneLongBurstGetsItsAcknowledgeInOrder) {
    CPseudoTerminal scale;
    Start(Ports({{1, &scale}}));
    Press(1);
    ASSERT_EQ(scale.Receive(1000), std::vector<uint8_t>{0x5A});
    scale.Send({0xA5});
    ASSERT_TRUE(ui.PumpUntil([&] { return Connected(); }, 2500));
    // Far more frames in one write than acknowledges fit in one write buffer.
    constexpr int kFrames = 6000;
    std::vector<uint8_t> burst;
    for (int i = 0; i < kFrames; ++i) burst.insert(burst.end(), {0x5F, 0x02, 0x00, 0x30, 0x39, 0x54});
    // The scale writes and listens on threads of its own: a pty holds only
    // a few KiB each way.
    std::vector<uint8_t> heard;
    std::atomic<size_t> heardCount{0};
    std::atomic<bool> listening{true};
    std::thread listener([&] {
        while (listening) {
            const std::vector<uint8_t> got = scale.Receive(50);
            heard.insert(heard.end(), got.begin(), got.end());
            heardCount = heard.size();
        }
    });
    std::thread writer([&] { scale.Send(burst); });
    const bool allRows = ui.PumpUntil([&] { return Rows() == kFrames; }, 60000);
    const bool allAcks = ui.PumpUntil([&] { return heardCount.load() >= static_cast<size_t>(kFrames); }, 30000);
    writer.join();
    listening = false;
    listener.join();
    EXPECT_TRUE(allRows) << Rows();
    EXPECT_TRUE(allAcks);
    EXPECT_EQ(heard.size(), static_cast<size_t>(kFrames));
    EXPECT_EQ(std::count(heard.begin(), heard.end(), CMD_ACK), kFrames);
    EXPECT_TRUE(ui.portReports.empty());
    session->OnOpenCloseConnection();
}

TEST_F(SessionLinkTest, EntryTwoConnectsToItsSlotAndRefreshShowsThePortsAgain) {
    CPseudoTerminal com1, com4;
    RunningScale com3;
    Start(Ports({{1, &com1}, {3, &com3.pty}, {4, &com4}}));
    Press(2);
    ASSERT_TRUE(ui.PumpUntil([&] { return Connected(); }, 2500));
    EXPECT_EQ(session->Serial().PortNumber(), 3u);
    session->OnOpenCloseConnection();
    ui.selectedPort = 3;
    ui.PumpFor(50);  // let the closed reader let go of COM3
    session->OnRefreshPorts();
    EXPECT_EQ(ui.ports, (std::vector<std::wstring>{L"自动检索", L"COM1", L"COM3", L"COM4"}));
    EXPECT_EQ(ui.selectedPort, 0);
}

TEST_F(SessionLinkTest, WithNoPortsAPressAndARefreshEachSaySo) {
    Start(CPortMap::Empty());
    ASSERT_EQ(ui.told.size(), 1u);  // at start-up
    EXPECT_TRUE(ui.ports.empty());
    Press(-1);
    session->OnRefreshPorts();
    EXPECT_EQ(ui.told, (std::vector<std::wstring>{
                           L"No serial port was found. Connect the scale, then press Refresh.",
                           L"No serial port is available. Connect the scale, then press Refresh.",
                           L"No serial port was found. Connect the scale, then press Refresh."}));
    EXPECT_EQ(ui.selectedPort, -1);
}

TEST_F(SessionLinkTest, ConnectDisconnectConnectAgainReadsAgain) {
    RunningScale scale;
    Start(Ports({{1, &scale.pty}}));
    for (int round = 1; round <= 3; ++round) {
        const int before = Rows();
        Press(1);
        ASSERT_TRUE(ui.PumpUntil([&] { return Connected(); }, 2500)) << "round " << round;
        ASSERT_TRUE(ui.PumpUntil([&] { return Rows() >= before + 2; }, 3000)) << "round " << round;
        session->OnOpenCloseConnection();
        ASSERT_TRUE(ui.PumpUntil([&] { return scale.sim.Stats().stops.load() == static_cast<uint64_t>(round); }, 1000));
        ui.PumpFor(20);
    }
    EXPECT_TRUE(ui.told.empty());
    EXPECT_GE(scale.sim.Stats().acks.load(), 6u);
}

TEST_F(SessionLinkTest, AnUnplugDuringTheHandshakeGivesTheRemovalReportAlone) {
    auto silent = std::make_unique<CPseudoTerminal>();
    Start(Ports({{1, silent.get()}}));
    Press(1);
    ASSERT_EQ(silent->Receive(1000), std::vector<uint8_t>{0x5A});
    silent->Unplug();
    ASSERT_TRUE(ui.PumpUntil([&] { return !ui.portReports.empty(); }, 2000));
    ui.PumpFor(2500);  // past the end of the handshake's wait: no notice of its own
    EXPECT_TRUE(ui.told.empty());
    EXPECT_FALSE(Attempting());
    EXPECT_FALSE(Connected());
}

TEST_F(SessionLinkTest, ADeviceThisUserMayNotOpenIsExplainedNotCalledMissing) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may open any device; runs in the unprivileged pass";
    const std::string locked = dir.Write("ttyUSB-locked", "").string();
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    CPortMap ports = CPortMap::Empty();
    ports.Set(5, locked);
    Start(ports);
    ASSERT_EQ(ui.told.size(), 1u);  // at start-up, instead of "no port found"
    const std::wstring text = ui.told[0];
    EXPECT_NE(text.find(L"The serial port " + WideFromUtf8(locked) + L" is there, but this user may not open it."),
              std::wstring::npos) << text;
    EXPECT_EQ(text.find(L"{group}"), std::wstring::npos) << text;
    EXPECT_NE(text.find(L"log out and log in again"), std::wstring::npos);
    Press(-1);  // a press of Connect says the same
    ASSERT_EQ(ui.told.size(), 2u);
    EXPECT_EQ(ui.told[1], ui.told[0]);
}

TEST_F(SessionLinkTest, AFullTableWhoseSaveFailsWaitsForTheClearToRestart) {
    RunningScale scale("good:2", 200);
    // The automatic save fails: its time-stamped names (with every suffix a
    // second full table would get) are taken by folders in the program's
    // folder for the next 20 s, and the documents folder the program would
    // fall back to cannot be made.
    const auto now = static_cast<int64_t>(std::time(nullptr));
    for (int64_t t = now; t < now + 20; ++t) {
        std::filesystem::create_directories(dir.Path() / PathFromWide(DefaultExportName(t) + L".xls"));
        for (int n = 2; n <= 99; ++n)
            std::filesystem::create_directories(dir.Path() /
                                                PathFromWide(DefaultExportName(t) + L"-" + std::to_wstring(n) + L".xls"));
    }
    dir.Write("Documents", "a file where the documents folder would be");
    Start(Ports({{1, &scale.pty}}), RowLimits{4, 6});
    Press(1);
    ASSERT_TRUE(ui.PumpUntil([&] { return Connected(); }, 2500));
    ASSERT_TRUE(ui.PumpUntil([&] { return session->Core().IsTableFull(); }, 5000));
    EXPECT_EQ(Rows(), 7);  // row number 6 is the first at the limit
    EXPECT_FALSE(Connected());
    EXPECT_TRUE(ui.PumpUntil([&] { return scale.sim.Stats().stops.load() >= 1; }, 2000) ||
                !session->Serial().ReaderRunning());
    ASSERT_EQ(ui.notices.size(), 2u);
    EXPECT_EQ(ui.notices[1], L"The table is full. It is being saved and will then be cleared.");
    ASSERT_EQ(ui.told.size(), 1u);
    EXPECT_EQ(ui.told[0].rfind(L"The table could not be saved as ", 0), 0u) << ui.told[0];
    ui.PumpFor(300);
    EXPECT_EQ(Rows(), 7);  // the link is stopped and the table kept
    EXPECT_TRUE(session->Core().IsTableFull());

    // Whatever the answer, a full table is emptied and the link restarted.
    ui.answers = {ANSWER_NO};
    session->OnClearData();
    EXPECT_EQ(Rows(), 0);
    ASSERT_TRUE(ui.PumpUntil([&] { return Connected(); }, 2500));
    ASSERT_TRUE(ui.PumpUntil([&] { return Rows() >= 1; }, 3000));
    EXPECT_EQ(session->Core().Table().Cell(0, COLUMN_NUMBER), L"       1");
    EXPECT_FALSE(session->Core().IsTableFull());
    session->OnOpenCloseConnection();
}

}  // namespace
}  // namespace tarvex::test
