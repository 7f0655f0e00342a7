#include <gtest/gtest.h>

#include "serial/PortMap.h"
#include "tests/TempDir.h"
#include "localisation/TextCodec.h"

namespace tarvex {
namespace {

TEST(PortMap, FixedTableCoversSerialUsbAndAcmDevices) {
    const CPortMap map = CPortMap::Defaults();
    const std::pair<int, const char*> expected[] = {
        {1, "/dev/ttyS0"},   {4, "/dev/ttyS3"},    {5, "/dev/ttyUSB0"},
        {20, "/dev/ttyUSB15"}, {21, "/dev/ttyACM0"}, {29, "/dev/ttyACM8"},
        {0, ""},             {30, ""}};
    for (const auto& [n, device] : expected) EXPECT_EQ(map.Device(n), device) << n;
}

TEST(PortMap, SettingsOverrideClearAndSwitchOffTheTable) {
    test::TempDir dir;
    const auto withDefaults = dir.Write("a.ini",
        "[Serial_Ports]\nCOM1=/dev/pts/7\nCOM5=\nCOM30=/dev/pts/9\n");
    CPortMap map = CPortMap::FromSettings(WideFromPath(withDefaults));
    EXPECT_EQ(map.Device(1), "/dev/pts/7");
    EXPECT_EQ(map.Device(5), "");                 // empty value: no device
    EXPECT_EQ(map.Device(6), "/dev/ttyUSB1");     // untouched numbers keep the table
    EXPECT_EQ(map.Device(30), "");

    const auto off = dir.Write("b.ini", "[serial_ports]\ndefaults=off\ncom3=/dev/serial/by-id/x\n");
    map = CPortMap::FromSettings(WideFromPath(off));
    for (int n = 1; n <= 29; ++n) EXPECT_EQ(map.Device(n), n == 3 ? "/dev/serial/by-id/x" : "") << n;

    // No file at all: the fixed table.
    map = CPortMap::FromSettings(WideFromPath(dir.Path() / "missing.ini"));
    EXPECT_EQ(map.Device(1), "/dev/ttyS0");
}

}  // namespace
}  // namespace tarvex
