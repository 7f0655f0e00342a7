// Scales that are asked for their weight, without a display: a session over
// the real driver and the simulator's scales on pseudo-terminals.

#include <atomic>
#include <thread>

#include "simulator/PolledScale.h"
#include "tests/integration/SessionFixture.h"

namespace tarvex::test {
namespace {

// A simulated scale on its own pty; stopped, it stays plugged in and silent.
class RunningAskedScale {
public:
    explicit RunningAskedScale(sim::CPolledScale::Options options) : scale(pty.Fd(), std::move(options)) { Start(); }
    ~RunningAskedScale() { Stop(); }
    void Start() {
        quit = false;
        thread = std::thread([this] { scale.Run(quit); });
    }
    void Stop() {
        quit = true;
        if (thread.joinable()) thread.join();
    }
    sim::CPseudoTerminal pty;
    sim::CPolledScale scale;
    std::atomic<bool> quit{false};
    std::thread thread;
};

class SessionScaleTest : public SessionTest {
protected:
    void Use(const std::string& scaleSection) {
        WriteProgramFolder(dir, std::string(kEnglishSetting) + "[Scale]\r\n" + scaleSection);
    }
    // A session set to the scale's protocol, connected to it on COM3.
    std::unique_ptr<RunningAskedScale> Connect(const std::string& scaleSection, sim::CPolledScale::Options options) {
        Use(scaleSection);
        auto scale = std::make_unique<RunningAskedScale>(std::move(options));
        Start(Ports({{3, &scale->pty}}));
        Press(1);
        EXPECT_TRUE(ui.PumpUntil([&] { return Connected(); }, 3000));
        return scale;
    }
    std::wstring Data(int row) const { return session->Table().Cell(row, COLUMN_DATA); }
    // Puts a parcel on and waits for the row it earns (the platter sways 600 ms).
    bool Weigh(RunningAskedScale& scale, double kilograms, int rowsThen) {
        scale.scale.Put(kilograms);
        return ui.PumpUntil([&] { return Rows() == rowsThen; }, 5000);
    }
};

TEST_F(SessionScaleTest, ThreeParcelsAreThreeRowsInTheScalesOwnDigitsAndTheJournalKeepsThem) {
    const struct {
        const char* setting;
        sim::CPolledScale::Options scale;
        const wchar_t* shown[3];
    } cases[] = {
        {"Protocol=mt-sics\r\n", {sim::Protocol::MtSics, "kg"}, {L"1.250", L"0.480", L"12.000"}},
        // A 7E1 scale on a pty, which takes no parity: read at 8 bits, bit 7 stripped.
        {"Protocol=nci\r\n", {sim::Protocol::Nci, "lb", true}, {L"1.250", L"0.480", L"12.000"}},
        {"Protocol=toledo\r\nUnit=kg\r\n", {sim::Protocol::Toledo, "kg", true}, {L"01.250", L"00.480", L"12.000"}},
        {"Protocol=ascii\r\n", {sim::Protocol::Ascii, "kg"}, {L"1.250", L"0.480", L"12.000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        auto running = Connect(c.setting, c.scale);
        ASSERT_TRUE(Connected());
        RunningAskedScale& scale = *running;
        const double parcels[] = {1.25, 0.48, 12.0};
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(Weigh(scale, parcels[i], i + 1)) << i;
            // Taken off between parcels: the next one earns its own row, this one no second.
            scale.scale.Put(0);
            ui.PumpFor(300);
        }
        ui.PumpFor(1200);
        ASSERT_EQ(Rows(), 3);
        if (c.scale.unit == "kg")
            for (int i = 0; i < 3; ++i) EXPECT_EQ(Data(i), c.shown[i]) << i;
        else  // pounds shown in KG: converted exactly
            EXPECT_EQ(Data(0), L"1.252");  // 2.76 lb
        const std::vector<RowRecord> kept = session->ReadingsFrom(1, 10);
        ASSERT_EQ(kept.size(), 3u);
        EXPECT_EQ(kept[2].scaleUnit, c.scale.unit);
        EXPECT_NEAR(kept[2].kilograms, 12.0, 0.01);
        EXPECT_TRUE(ui.portReports.empty());
        session.reset();
    }
}

TEST_F(SessionScaleTest, ZeroAndTareAreHeardAndTheirOutcomeShown) {
    auto running = Connect("Protocol=mt-sics\r\n", {sim::Protocol::MtSics, "kg"});
    ASSERT_TRUE(Connected());
    RunningAskedScale& scale = *running;
    EXPECT_EQ(ui.scaleCommands, (std::array<bool, 3>{true, true, false}));  // Weigh only by the key rule
    scale.scale.Put(0.5);
    ASSERT_TRUE(ui.PumpUntil([&] { return Rows() == 1; }, 5000));
    session->OnTare();
    ASSERT_TRUE(ui.PumpUntil([&] { return session->StatusText().find(L"Tared") != std::wstring::npos; }, 3000))
        << Utf8FromWide(session->StatusText());
    scale.scale.Put(2.0);
    ui.PumpFor(100);
    session->OnZero();  // while it sways
    ASSERT_TRUE(ui.PumpUntil(
        [&] { return session->StatusText().find(L"The scale could not zero: it is in motion") != std::wstring::npos; },
        3000))
        << Utf8FromWide(session->StatusText());
    scale.Stop();
    EXPECT_EQ(scale.scale.Counts().tares, 1u);
    EXPECT_EQ(scale.scale.Counts().zeros, 1u);
}

TEST_F(SessionScaleTest, AScaleThatFallsSilentIsUnpluggedAndComesBackByItself) {
    auto running = Connect("Protocol=mt-sics\r\nPoll_Ms=100\r\n", {sim::Protocol::MtSics, "kg"});
    ASSERT_TRUE(Connected());
    RunningAskedScale& scale = *running;
    ASSERT_TRUE(ui.PumpUntil([&] { return scale.scale.Counts().polls >= 5; }, 3000));
    scale.Stop();
    ASSERT_TRUE(ui.PumpUntil([&] { return !Connected() && !ui.portReports.empty(); }, 3000));
    ASSERT_EQ(ui.portReports.size(), 1u);
    EXPECT_NE(ui.portReports[0].find(L"did not answer three polls"), std::wstring::npos);
    EXPECT_TRUE(session->Connection().Watching());
    EXPECT_EQ(ui.liveWeights.back(), L" ");  // no link: nothing shown
    scale.Start();
    ASSERT_TRUE(ui.PumpUntil([&] { return Connected(); }, 5000));
    // Never the frames' bytes: the Toledo "Z" that would zero the scale.
    EXPECT_EQ(scale.scale.Counts().unknown, 0u);
}

TEST_F(SessionScaleTest, TheWeighKeyTakesTheStableWeightOrSaysWhyNot) {
    auto running = Connect("Protocol=mt-sics\r\nTake=key\r\n", {sim::Protocol::MtSics, "kg"});
    ASSERT_TRUE(Connected());
    RunningAskedScale& scale = *running;
    scale.scale.Put(3.5);
    ui.PumpFor(1500);
    EXPECT_EQ(Rows(), 0);  // the key rule alone takes nothing by itself
    session->OnWeigh();
    ASSERT_TRUE(ui.PumpUntil([&] { return Rows() == 1; }, 2000));
    EXPECT_EQ(Data(0), L"3.500");
    scale.scale.Put(45.0);  // over capacity for as long as it stands
    ui.PumpFor(800);
    session->OnWeigh();
    ASSERT_TRUE(ui.PumpUntil(
        [&] { return session->StatusText().find(L"No stable weight within 3 seconds: it is over capacity") != std::wstring::npos; },
        5000));
    EXPECT_EQ(Rows(), 1);
}

TEST_F(SessionScaleTest, FindingTheProtocolNeverZeroesAScaleOfAnotherAndRemembersWhatAnswered) {
    const struct {
        sim::CPolledScale::Options scale;
        ScaleProtocolKind found;
    } cases[] = {
        {{sim::Protocol::Toledo, "lb", true}, ScaleProtocolKind::Toledo},
        {{sim::Protocol::Nci, "lb", true}, ScaleProtocolKind::Nci},
        {{sim::Protocol::MtSics, "kg"}, ScaleProtocolKind::MtSics},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.found));
        Use("Protocol=frames\r\n");
        RunningAskedScale scale(c.scale);
        Start(Ports({{3, &scale.pty}}));
        ui.selectedPort = 1;
        session->OnFindProtocol();
        ASSERT_TRUE(ui.PumpUntil([&] { return Connected() && !session->FindingProtocol(); }, 15000));
        EXPECT_EQ(session->ScaleChoice().protocol, c.found);
        EXPECT_NE(session->StatusText().find(L"Found: the scale speaks"), std::wstring::npos);
        EXPECT_EQ(scale.scale.Counts().zeros, 0u);
        EXPECT_EQ(scale.scale.Counts().tares, 0u);
        session.reset();
        Start(Ports({{3, &scale.pty}}));
        EXPECT_EQ(session->ScaleChoice().protocol, c.found);  // the next start reads the protocol found
        session.reset();
    }
}

TEST_F(SessionScaleTest, FindingTheProtocolWhereNoScaleAnswersSaysSoAndKeepsTheChoice) {
    Use("Protocol=nci\r\n");
    sim::CPseudoTerminal silent;
    Start(Ports({{3, &silent}}));
    session->OnFindProtocol();  // the automatic search is chosen: one port is asked for
    ASSERT_EQ(ui.told.size(), 1u);
    EXPECT_NE(ui.told[0].find(L"Choose the scale's port first"), std::wstring::npos);
    ui.selectedPort = 1;
    session->OnFindProtocol();
    ASSERT_TRUE(ui.PumpUntil([&] { return ui.told.size() == 2; }, 20000));
    EXPECT_NE(ui.told[1].find(L"No scale answered on COM3 in any protocol"), std::wstring::npos);
    EXPECT_EQ(session->ScaleChoice().protocol, ScaleProtocolKind::Nci);
    EXPECT_FALSE(Connected());
}

}  // namespace
}  // namespace tarvex::test
