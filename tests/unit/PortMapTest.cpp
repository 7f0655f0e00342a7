#include <gtest/gtest.h>

#include "serial/NetworkAddress.h"
#include "serial/PortMap.h"
#include "tests/support/TempDir.h"
#include "text/TextCodec.h"

namespace tarvex {
namespace {

#ifndef _WIN32
// Windows keeps its own COM numbers; the table and its overrides are POSIX's.
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
#endif

TEST(PortMap, NetworkEntriesAndTheirAddresses) {
    using Kind = NetworkAddress::Kind;
    struct Case {
        const char* entry;
        bool valid;
        Kind kind;
        const char* host;
        const char* label;
    };
    const Case cases[] = {
        {"socket://192.168.1.50:4001", true, Kind::Raw, "192.168.1.50", "192.168.1.50:4001"},
        {"rfc2217://scales.example:2217", true, Kind::Rfc2217, "scales.example", "scales.example:2217"},
        {"socket://[fe80::1]:4001", true, Kind::Raw, "fe80::1", "[fe80::1]:4001"},
        {"rfc2217://host:4001/?logging=debug", true, Kind::Rfc2217, "host", "host:4001"},
        {"socket://fe80::1:4001", false, Kind::Raw, "", ""},  // IPv6 without brackets
        {"socket://host", false, Kind::Raw, "", ""},
        {"socket://host:0", false, Kind::Raw, "", ""},
        {"socket://host:65536", false, Kind::Raw, "", ""},
        {"socket://:4001", false, Kind::Raw, "", ""},
        {"socket://[::1]4001", false, Kind::Raw, "", ""},
        {"tcp://host:4001", false, Kind::Raw, "", ""},
        {"/dev/ttyUSB0", false, Kind::Raw, "", ""},
    };
    for (const Case& c : cases) {
        const auto address = ParseNetworkAddress(c.entry);
        ASSERT_EQ(address.has_value(), c.valid) << c.entry;
        if (!address) continue;
        EXPECT_EQ(address->kind, c.kind) << c.entry;
        EXPECT_EQ(address->host, c.host) << c.entry;
        EXPECT_EQ(address->Label(), c.label) << c.entry;
    }
}

}  // namespace
}  // namespace tarvex
