// USB scales on Linux as the driver finds and reads them: the simulator's
// scale laid out under TARVEX_HID_ROOT beside other devices, its pipe read
// as a hidraw node.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

#include "serial/HidScales.h"
#include "simulator/UsbScale.h"
#include "tests/support/HidDescriptors.h"
#include "tests/support/TempDir.h"

namespace tarvex::test {
namespace {

class UsbScaleLineTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("TARVEX_HID_ROOT", m_root.Path().c_str(), 1); }
    void TearDown() override {
        m_quit = true;
        if (m_running.joinable()) m_running.join();
        ::unsetenv("TARVEX_HID_ROOT");
    }

    // Another hidraw device beside the scale: its descriptor, its name.
    void LayOut(const std::string& node, const std::vector<uint8_t>& descriptor, const std::string& name) {
        m_root.Write("sys/class/hidraw/" + node + "/device/report_descriptor", std::string(descriptor.begin(), descriptor.end()));
        m_root.Write("sys/class/hidraw/" + node + "/device/uevent", "HID_NAME=" + name + "\nHID_PHYS=usb-9/input0\n");
    }

    sim::CUsbScale& Plug(int reportEveryMs) { return m_scale.emplace(sim::CUsbScale::Options{m_root.Path(), "kg", reportEveryMs}); }
    void Run() {
        m_running = std::thread([this] { m_scale->Run(m_quit); });
    }

    TempDir m_root;
    std::optional<sim::CUsbScale> m_scale;
    std::atomic<bool> m_quit{false};
    std::thread m_running;
};

// Waits for the line to say something other than that time passed, within a limit.
platform::WaitResult Next(ISerialLine& line, int& error) {
    platform::CWaitEvent stop, write;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    platform::WaitResult result = platform::WaitResult::Timeout;
    while (result == platform::WaitResult::Timeout && std::chrono::steady_clock::now() < limit)
        result = line.WaitForAny(stop, write, 100, error);
    return result;
}

TEST_F(UsbScaleLineTest, OnlyScalesAreListedByNameAndPlace) {
    Plug(100);
    LayOut("hidraw7", KEYBOARD_DESCRIPTOR, "A Keyboard");
    LayOut("hidraw8", {0xA1, 0x01, 0x05}, "Damaged");
    LayOut("hidraw9", VENDOR_FIELDS_SCALE_DESCRIPTOR, "Another Scale");
    const std::vector<HidScaleDevice> scales = FindHidScales();
    ASSERT_EQ(scales.size(), 2u);
    EXPECT_EQ(scales[0].name, sim::USB_SCALE_NAME);
    EXPECT_EQ(scales[0].place, "usb-0000:00:14.0-2/input0");
    EXPECT_EQ(scales[0].node, (m_root.Path() / "dev/hidraw1").string());
    EXPECT_FALSE(scales[0].layout.common);
    EXPECT_EQ(scales[0].openError, 0);
    EXPECT_EQ(scales[1].name, "Another Scale");
    EXPECT_TRUE(scales[1].layout.common);
}

TEST_F(UsbScaleLineTest, ReportsComeWholeThenThePulledScaleIsRemovedAndFoundAgainUnderItsNewNode) {
    sim::CUsbScale& scale = Plug(20);
    const HidScaleDevice found = FindHidScales().at(0);
    int error = 0;
    std::unique_ptr<ISerialLine> line = OpenHidScale(found, error);
    ASSERT_TRUE(line) << error;
    Run();
    ASSERT_EQ(Next(*line, error), platform::WaitResult::Line);
    // A report is read whole over reads with too little room for it.
    std::vector<uint8_t> report;
    for (uint8_t piece[4]; report.size() < 6;) {
        const long got = line->Read(piece, sizeof piece, error);
        ASSERT_GT(got, 0);
        report.insert(report.end(), piece, piece + got);
    }
    EXPECT_EQ(report, (std::vector<uint8_t>{0x03, 0x02, 0x03, 0xFD, 0x00, 0x00}));  // 0 kg, at zero

    scale.Pull();
    // What still waits is read; then the line says the device is gone.
    platform::WaitResult result = platform::WaitResult::Line;
    while (result == platform::WaitResult::Line) {
        uint8_t bytes[64];
        line->Read(bytes, sizeof bytes, error);
        result = Next(*line, error);
    }
    EXPECT_EQ(result, platform::WaitResult::Removed);
    line.reset();
    EXPECT_FALSE(OpenHidScale(found, error));
    EXPECT_EQ(error, ENODEV);

    scale.Plug();
    line = OpenHidScale(found, error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(FindHidScales().at(0).node, (m_root.Path() / "dev/hidraw2").string());
}

}  // namespace
}  // namespace tarvex::test
