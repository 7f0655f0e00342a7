// The real window, the real driver and the scale simulator on pseudo-terminals.


#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <thread>

#include "tests/integration/ProcessCpu.h"
#include "tests/integration/RunningScale.h"
#include "tests/integration/WindowFixture.h"
#include "export/WorkbookExport.h"

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
    bool Connected() const { return dlg->Session().IsConnected(); }
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
    // Nothing spins after the unplug: a spin takes the whole half second;
    // the watch's reopening under the sanitizers took up to 0.16 s.
    EXPECT_LT(CpuSeconds() - cpuBefore, 0.3);
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
    EXPECT_FALSE(dlg->Session().Connection().Watching());
    EXPECT_EQ(dlg->FindWindow(IDC_STATUS)->GetLabel().Left(13), L"Not connected");

    Press(1);
    ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 2500));
    scale->Unplug();
    ::unlink(device.c_str());
    ASSERT_TRUE(PumpUntil([&] { return dlg->Session().Connection().Watching() && dlg->PortReportShown(); }, 3000));
    EXPECT_TRUE(dlg->FindWindow(IDC_STATUS)->GetLabel().StartsWith(L"Waiting for COM1 to come back"))
        << dlg->FindWindow(IDC_STATUS)->GetLabel();
    PumpFor(1500);  // a tick or two of the watch on a device that is gone: no box
    EXPECT_TRUE(modal.seen.empty());

    modal.Answer(IDOK_ANSWER);  // Refresh finds no port any more and says so
    Click(dlg, IDC_REFRESH);
    EXPECT_FALSE(dlg->Session().Connection().Watching());
    EXPECT_EQ(modal.Pending(), 0u);
}

}  // namespace
}  // namespace tarvex::test
