// The real window, the real driver and the scale simulator on pseudo-terminals.


#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <thread>

#include "ProcessCpu.h"
#include "RunningScale.h"
#include "WindowFixture.h"
#include "WorkbookExport.h"

namespace tarvex::test {
namespace {

using Clock = std::chrono::steady_clock;
using sim::CPseudoTerminal;

class ConnectionTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        WriteSetting(kEnglishSetting);
    }
    wxChoice* PortList() const { return static_cast<wxChoice*>(dlg->FindWindow(IDC_PORT_COMBO)); }
    std::vector<wxString> PortEntries() const {
        std::vector<wxString> entries;
        for (unsigned i = 0; i < PortList()->GetCount(); ++i) entries.push_back(PortList()->GetString(i));
        return entries;
    }
    bool Connected() const { return dlg->Core().IsConnected(); }
    bool LinkControlsEnabled(bool enabled) const {
        for (int id : {IDC_PORT_GROUP, IDC_PORT_COMBO, IDC_REFRESH, IDC_LANGUAGE_GROUP,
                       IDC_LANGUAGE_COMBO, IDC_CONFIRM_LANGUAGE})
            if (dlg->FindWindow(id)->IsEnabled() != enabled) return false;
        return true;
    }
    void Press(int entry) {
        PortList()->SetSelection(entry);
        Click(dlg, IDC_OPEN_CLOSE);
    }
    static CPortMap Ports(std::initializer_list<std::pair<int, const CPseudoTerminal*>> ports) {
        CPortMap map = CPortMap::Empty();
        for (const auto& [n, pty] : ports) map.Set(n, pty->DevicePath());
        return map;
    }
};

TEST_F(ConnectionTest, ChosenPortHandshakeThenRowsAcknowledgedAndCloseSendsStop) {
    RunningScale scale("good:1.234,damaged,over", 5);
    Open(Ports({{3, &scale.pty}}));
    EXPECT_EQ(PortEntries(), (std::vector<wxString>{L"自动检索", L"COM3"}));
    EXPECT_EQ(PortList()->GetSelection(), 0);
    Press(1);
    ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 2500));
    EXPECT_EQ(Label(IDC_OPEN_CLOSE), L"Disconnect");
    EXPECT_TRUE(LinkControlsEnabled(false));

    ASSERT_TRUE(PumpUntil([&] { return Rows() >= 3; }, 5000));
    // The handshake answer itself never became a row.
    ASSERT_TRUE(ListCaughtUp());
    EXPECT_EQ(dlg->List().GetItemText(0, COLUMN_DATA), L"1.2340");
    EXPECT_EQ(dlg->List().GetItemText(1, COLUMN_DATA), L"Error");
    EXPECT_EQ(dlg->List().GetItemText(2, COLUMN_DATA), L"Overweight");
    // Each row's 0x9F and the damaged frame's 0xF9 reach the scale.
    EXPECT_TRUE(PumpUntil([&] { return scale.sim.Stats().acks.load() >= 3; }, 2000));
    EXPECT_GE(scale.sim.Stats().repeats.load(), 1u);
    EXPECT_EQ(scale.sim.Stats().handshakes.load(), 1u);

    Click(dlg, IDC_OPEN_CLOSE);
    EXPECT_FALSE(Connected());
    EXPECT_EQ(Label(IDC_OPEN_CLOSE), L"Connect");
    EXPECT_TRUE(LinkControlsEnabled(true));
    EXPECT_TRUE(PumpUntil([&] { return scale.sim.Stats().stops.load() == 1; }, 2000));
}

TEST_F(ConnectionTest, ChosenPortWithoutAnswerFailsAfterTwoSeconds) {
    CPseudoTerminal silent;
    Open(Ports({{2, &silent}}));
    Clock::time_point shown;
    modal.Then([&](wxDialog* box) {
        shown = Clock::now();
        Click(box, IDOK_ANSWER);
    });
    const auto pressed = Clock::now();
    Press(1);
    EXPECT_EQ(silent.Receive(1000), std::vector<uint8_t>{0x5A});
    ASSERT_TRUE(PumpUntil([&] { return modal.Pending() == 0 && !dlg->AttemptRunning(); }, 4000));
    ASSERT_EQ(modal.seen.size(), 1u);
    EXPECT_EQ(modal.seen[0].text, L"The scale did not answer on this port. Check the cable and the port, then try again.");
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(shown - pressed).count();
    EXPECT_GE(waited, 1950);
    EXPECT_LT(waited, 3000);
    EXPECT_FALSE(Connected());
    EXPECT_FALSE(dlg->Serial().ReaderRunning());
}

TEST_F(ConnectionTest, AutomaticSearchFindsTheScaleOnTheThirdPort) {
    CPseudoTerminal com1, com3;
    RunningScale scale;
    Open(Ports({{4, &scale.pty}, {1, &com1}, {3, &com3}}));
    EXPECT_EQ(PortEntries(), (std::vector<wxString>{L"自动检索", L"COM1", L"COM3", L"COM4"}));
    const auto pressed = Clock::now();
    Press(0);
    ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 2000));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed).count();
    EXPECT_GE(took, 380);  // two silent ports, 200 ms each
    EXPECT_EQ(dlg->Serial().PortNumber(), 4u);
    EXPECT_EQ(com1.Receive(200), std::vector<uint8_t>{0x5A});
    EXPECT_EQ(com3.Receive(200), std::vector<uint8_t>{0x5A});
    EXPECT_TRUE(modal.seen.empty());  // the failed attempts are silent
    Click(dlg, IDC_OPEN_CLOSE);
}

TEST_F(ConnectionTest, AutomaticSearchWithoutScaleEndsWithOneNotice) {
    CPseudoTerminal com1, com2;
    Open(Ports({{1, &com1}, {2, &com2}}));
    modal.Answer(IDOK_ANSWER);
    Press(0);
    ASSERT_TRUE(PumpUntil([&] { return modal.Pending() == 0 && !dlg->AttemptRunning(); }, 3000));
    ASSERT_EQ(modal.seen.size(), 1u);
    EXPECT_EQ(modal.seen[0].text, L"No scale answered on any serial port. Check that the scale is on and connected.");
    EXPECT_FALSE(Connected());
}

TEST_F(ConnectionTest, ChosenEntryTwoConnectsToItsSlotAndRefreshSelectsSearch) {
    CPseudoTerminal com1, com4;
    RunningScale com3;
    Open(Ports({{1, &com1}, {3, &com3.pty}, {4, &com4}}));
    Press(2);
    ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 2500));
    EXPECT_EQ(dlg->Serial().PortNumber(), 3u);
    Click(dlg, IDC_OPEN_CLOSE);
    PortList()->SetSelection(3);
    PumpFor(50);  // let the closed reader let go of COM3
    Click(dlg, IDC_REFRESH);
    EXPECT_EQ(PortEntries(), (std::vector<wxString>{L"自动检索", L"COM1", L"COM3", L"COM4"}));
    EXPECT_EQ(PortList()->GetSelection(), 0);
}

TEST_F(ConnectionTest, PressWithNoPortsTellsNoPortAndRefreshTellsAgain) {
    Open(CPortMap::Empty());
    EXPECT_EQ(PortList()->GetCount(), 0u);
    modal.Answer(IDOK_ANSWER);
    Click(dlg, IDC_OPEN_CLOSE);
    modal.Answer(IDOK_ANSWER);
    Click(dlg, IDC_REFRESH);
    ASSERT_EQ(modal.seen.size(), 2u);
    EXPECT_EQ(modal.seen[0].text, L"No serial port is available. Connect the scale, then press Refresh.");
    EXPECT_EQ(modal.seen[1].text, L"No serial port was found. Connect the scale, then press Refresh.");
    EXPECT_EQ(PortList()->GetSelection(), wxNOT_FOUND);
}

TEST_F(ConnectionTest, UnplugMidConnectionReportsOnceKeepsRowsAndReopens) {
    auto scale = std::make_unique<RunningScale>();
    const std::string device = scale->pty.DevicePath();
    Open(Ports({{1, &scale->pty}}));
    Press(1);
    ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 2500));
    ASSERT_TRUE(PumpUntil([&] { return Rows() >= 2; }, 3000));
    scale->Unplug();
    // The window goes back to not connected, and the one report shows
    // without holding anything up.
    ASSERT_TRUE(PumpUntil([&] { return !Connected() && dlg->PortReportShown(); }, 3000));
    const int rows = Rows();
    EXPECT_GE(rows, 2);
    EXPECT_TRUE(modal.seen.empty());
    EXPECT_TRUE(dlg->PortReportText().StartsWith(L"WARNING:  poll() Failed")) << dlg->PortReportText();
    EXPECT_EQ(Label(IDC_OPEN_CLOSE), L"Connect");
    EXPECT_TRUE(LinkControlsEnabled(true));

    const double cpuBefore = CpuSeconds();
    PumpFor(500);
    EXPECT_LT(CpuSeconds() - cpuBefore, 0.15);  // nothing spins after the unplug
    EXPECT_TRUE(modal.seen.empty());
    EXPECT_EQ(Rows(), rows);
}

TEST_F(ConnectionTest, APulledDeviceIsWatchedUntilTheUserTakesOverAndDisconnectNeverWatches) {
    auto scale = std::make_unique<RunningScale>();
    // The port's name goes with the device, as an adapter's does: the pty's
    // own number may go to another process's new pty at once.
    const std::string device = (dir.Path() / "ttyUSB-scale").string();
    ASSERT_EQ(::symlink(scale->pty.DevicePath().c_str(), device.c_str()), 0);
    CPortMap ports = CPortMap::Empty();
    ports.Set(1, device);
    Open(ports);
    Press(1);
    ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 2500));
    Click(dlg, IDC_OPEN_CLOSE);  // the user's own Disconnect
    PumpFor(200);
    EXPECT_FALSE(dlg->WatchingForDevice());
    EXPECT_EQ(dlg->FindWindow(IDC_STATUS)->GetLabel().Left(13), L"Not connected");

    Press(1);
    ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 2500));
    scale->Unplug();
    ::unlink(device.c_str());
    ASSERT_TRUE(PumpUntil([&] { return dlg->WatchingForDevice() && dlg->PortReportShown(); }, 3000));
    EXPECT_TRUE(dlg->FindWindow(IDC_STATUS)->GetLabel().StartsWith(L"Waiting for COM1 to come back"))
        << dlg->FindWindow(IDC_STATUS)->GetLabel();
    PumpFor(1500);  // a tick or two of the watch on a device that is gone: no box
    EXPECT_TRUE(modal.seen.empty());

    modal.Answer(IDOK_ANSWER);  // Refresh finds no port any more and says so
    Click(dlg, IDC_REFRESH);
    EXPECT_FALSE(dlg->WatchingForDevice());
    EXPECT_EQ(modal.Pending(), 0u);
}

TEST_F(ConnectionTest, AnEarlierAnswerNeverPassesForTheAnswerOfASilentPort) {
    CPseudoTerminal answering, silent;
    Open(Ports({{1, &answering}, {2, &silent}}));
    Press(1);
    ASSERT_EQ(answering.Receive(1000), std::vector<uint8_t>{0x5A});
    answering.Send({0xA5});  // the last burst this link sees
    ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 2500));
    Click(dlg, IDC_OPEN_CLOSE);
    ASSERT_FALSE(Connected());

    modal.Answer(IDOK_ANSWER);
    Press(2);
    PumpFor(100);
    EXPECT_FALSE(Connected());
    ASSERT_TRUE(PumpUntil([&] { return modal.Pending() == 0 && !dlg->AttemptRunning(); }, 3000));
    EXPECT_FALSE(Connected());
    ASSERT_EQ(modal.seen.size(), 1u);
    EXPECT_EQ(modal.seen[0].text, L"The scale did not answer on this port. Check the cable and the port, then try again.");

    // The same holds for the automatic search: with nobody answering now,
    // both ports are passed over.
    modal.Answer(IDOK_ANSWER);
    Press(0);
    ASSERT_TRUE(PumpUntil([&] { return modal.Pending() == 0 && !dlg->AttemptRunning(); }, 3000));
    EXPECT_FALSE(Connected());
    ASSERT_EQ(modal.seen.size(), 2u);
    EXPECT_EQ(modal.seen[1].text, L"No scale answered on any serial port. Check that the scale is on and connected.");
}

TEST_F(ConnectionTest, ConnectDisconnectConnectAgainReadsAgain) {
    RunningScale scale;
    Open(Ports({{1, &scale.pty}}));
    for (int round = 1; round <= 3; ++round) {
        const int before = Rows();
        Press(1);
        ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 2500)) << "round " << round;
        ASSERT_TRUE(PumpUntil([&] { return Rows() >= before + 2; }, 3000)) << "round " << round;
        Click(dlg, IDC_OPEN_CLOSE);
        ASSERT_TRUE(PumpUntil([&] { return scale.sim.Stats().stops.load() == static_cast<uint64_t>(round); }, 1000));
        PumpFor(20);
    }
    EXPECT_TRUE(modal.seen.empty());
}

TEST_F(ConnectionTest, UnplugDuringTheHandshakeShowsTheRemovalReportAlone) {
    auto silent = std::make_unique<CPseudoTerminal>();
    Open(Ports({{1, silent.get()}}));
    Press(1);
    ASSERT_EQ(silent->Receive(1000), std::vector<uint8_t>{0x5A});
    silent->Unplug();
    ASSERT_TRUE(PumpUntil([&] { return dlg->PortReportShown(); }, 2000));
    PumpFor(2500);  // past the end of the handshake's wait: no notice of its own
    EXPECT_TRUE(modal.seen.empty());
    EXPECT_FALSE(dlg->AttemptRunning());
    EXPECT_FALSE(Connected());
    EXPECT_EQ(Label(IDC_OPEN_CLOSE), L"Connect");
}

TEST_F(ConnectionTest, ADeviceThisUserMayNotOpenIsExplainedNotCalledMissing) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may open any device; runs in the unprivileged pass";
    const std::string locked = dir.Write("ttyUSB-locked", "").string();
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    CPortMap ports = CPortMap::Empty();
    ports.Set(5, locked);
    modal.Answer(IDOK_ANSWER);  // at start-up, instead of "no port found"
    Open(ports);
    ASSERT_EQ(modal.seen.size(), 1u);
    const std::wstring text = modal.seen[0].text.ToStdWstring();
    EXPECT_NE(text.find(L"The serial port " + WideFromUtf8(locked) + L" is there, but this user may not open it."),
              std::wstring::npos) << text;
    EXPECT_EQ(text.find(L"{group}"), std::wstring::npos) << text;
    EXPECT_NE(text.find(L"log out and log in again"), std::wstring::npos);

    modal.Answer(IDOK_ANSWER);  // a press of Connect says the same
    Click(dlg, IDC_OPEN_CLOSE);
    ASSERT_EQ(modal.seen.size(), 2u);
    EXPECT_EQ(modal.seen[1].text, modal.seen[0].text);
}

TEST_F(ConnectionTest, FullTableWhoseSaveFailsWaitsForTheClearToRestart) {
    RunningScale scale("good:2", 200);
    // The automatic save fails: its time-stamped name is taken by a folder in
    // the program's folder for the next minute, and the documents folder the
    // program would fall back to cannot be made.
    const auto now = static_cast<int64_t>(std::time(nullptr));
    for (int64_t t = now; t < now + 60; ++t)
        std::filesystem::create_directories(dir.Path() / PathFromWide(DefaultExportName(t) + L".xls"));
    dir.Write("Documents", "a file where the documents folder would be");
    modal.Answer(IDOK_ANSWER);  // its notice
    Open(Ports({{1, &scale.pty}}), RowLimits{4, 6});
    Press(1);
    ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 2500));
    ASSERT_TRUE(PumpUntil([&] { return dlg->Core().IsTableFull(); }, 5000));
    EXPECT_EQ(Rows(), 7);  // row number 6 is the first at the limit
    EXPECT_FALSE(Connected());
    EXPECT_TRUE(PumpUntil([&] { return scale.sim.Stats().stops.load() >= 1; }, 2000) ||
                !dlg->Serial().ReaderRunning());
    CMyMsgDialog* notice = dlg->MsgBox().NoticeWindow();
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(Describe(notice).text, L"The table is full. It is being saved and will then be cleared.");
    ASSERT_TRUE(PumpUntil([&] { return modal.Pending() == 0; }, 1000));
    EXPECT_EQ(modal.seen.back().text.rfind(L"The table could not be saved as ", 0), 0u) << modal.seen.back().text;
    PumpFor(300);
    EXPECT_EQ(Rows(), 7);  // the link is stopped and the table kept
    EXPECT_TRUE(dlg->Core().IsTableFull());

    // Whatever the answer, a full table is emptied and the link restarted.
    modal.Answer(IDNO_ANSWER);
    Click(dlg, IDC_CLEAR);
    EXPECT_EQ(Rows(), 0);
    ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 2500));
    ASSERT_TRUE(PumpUntil([&] { return Rows() >= 1; }, 3000));
    // Checked on the table itself at once: at 200 frames a second the list
    // would only catch up when the small table is full again.
    EXPECT_EQ(dlg->Core().Table().Cell(0, COLUMN_NUMBER), L"       1");
    EXPECT_FALSE(dlg->Core().IsTableFull());
    Click(dlg, IDC_OPEN_CLOSE);
}

}  // namespace
}  // namespace tarvex::test
