// USB scales told from other devices by their report descriptors, and
// where each descriptor puts the scale's fields.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "serial/HidDescriptor.h"
#include "serial/HidScales.h"
#include "tests/support/HidDescriptors.h"

namespace tarvex::test {
namespace {

std::string Place(const HidField& field) {
    return std::to_string(field.bitOffset) + "+" + std::to_string(field.bitSize) + (field.isSigned ? "s" : "");
}

// A layout in a line: report id, then status, unit, scaling, weight, zero.
std::string Described(const HidDescriptorRead& read) {
    if (!read.problem.empty()) return "damaged: " + read.problem;
    if (!read.isScale) return "no scale";
    const HidScaleLayout& l = *read.layout;
    if (l.common) return "common layout";
    std::string text = "report " + std::to_string(l.reportId) + " of " + std::to_string(l.inputBytes.at(l.reportId)) +
                       " bytes: status " + Place(l.status) + ", unit " + Place(l.unit) + ", scaling " +
                       (l.scaling ? Place(*l.scaling) : "none") + ", weight " + Place(l.weight);
    if (l.zero)
        text += ", zero " + std::string(l.zero->kind == HidReportKind::Feature ? "feature " : "output ") +
                std::to_string(l.zero->reportId) + " bit " + std::to_string(l.zero->bitOffset) + " of " +
                std::to_string(l.zero->bytes);
    return text;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t drop) {
    bytes.resize(bytes.size() - drop);
    return bytes;
}

std::vector<uint8_t> Joined(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(HidDescriptor, ScalesTheirFieldsAndOtherDevices) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"postal scale", POSTAL_SCALE_DESCRIPTOR,
         "report 3 of 6 bytes: status 0+8, unit 8+8, scaling 16+8s, weight 24+16, zero feature 5 bit 0 of 2"},
        {"bench scale", BENCH_SCALE_DESCRIPTOR,
         "report 1 of 7 bytes: status 40+4, unit 44+4, scaling 32+8s, weight 0+32s, zero output 2 bit 0 of 2"},
        {"vendor fields", VENDOR_FIELDS_SCALE_DESCRIPTOR, "common layout"},
        {"keyboard", KEYBOARD_DESCRIPTOR, "no scale"},
        {"mouse", MOUSE_DESCRIPTOR, "no scale"},
        {"empty", {}, "no scale"},
        {"cut in its last item", Cut(POSTAL_SCALE_DESCRIPTOR, 60), "damaged: the descriptor ends inside an item"},
        {"never closed", Cut(POSTAL_SCALE_DESCRIPTOR, 1), "damaged: a collection is never closed"},
        {"closed twice", Joined(POSTAL_SCALE_DESCRIPTOR, {0xC0}),
         "damaged: an end of a collection that was never opened"},
        {"report id 0", {0x05, 0x8D, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x00, 0xC0}, "damaged: a report id outside 1 to 255"},
        {"report too long", {0x75, 0x20, 0x96, 0x00, 0x10, 0x81, 0x02}, "damaged: a report longer than 4096 bytes"},
        {"pop without push", {0xB4}, "damaged: a pop without a push"},
        {"nested 33 deep", [] {
             std::vector<uint8_t> bytes;
             for (int i = 0; i < 33; ++i) bytes.insert(bytes.end(), {0xA1, 0x02});
             return bytes;
         }(),
         "damaged: collections nested deeper than 32"},
        {"long item cut", {0xFE, 0x05, 0x00, 0x01}, "damaged: the descriptor ends inside an item"},
    };
    for (const Case& c : cases) EXPECT_EQ(Described(ReadHidDescriptor(c.bytes)), c.expected) << c.what;
}

TEST(HidDescriptor, ThePackagesUdevRuleIsTheOneThePermissionMessageShows) {
    std::ifstream rules(std::string(TARVEX_RESOURCES_DIR) + "/../packaging/60-tarvex-usb-scale.rules");
    ASSERT_TRUE(rules.good());
    std::vector<std::string> lines;
    for (std::string line; std::getline(rules, line);)
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    EXPECT_EQ(lines, std::vector<std::string>{HID_SCALE_UDEV_RULE});
}

#ifdef _WIN32
// SetupAPI and the HID class as the system has them (under Wine, in tests:
// no device). Reading a scale needs one; finding none must not fail.
TEST(UsbScalesOnWindows, EveryScaleFoundHasANameAndAScalesLayoutAndOneNotThereIsNotOpened) {
    for (const HidScaleDevice& scale : FindHidScales()) {
        EXPECT_FALSE(scale.name.empty());
        EXPECT_FALSE(scale.node.empty());
    }
    HidScaleDevice gone;
    gone.name = "No Such Scale";
    gone.place = "\\\\?\\hid#none";
    int error = 0;
    EXPECT_FALSE(OpenHidScale(gone, error));
    EXPECT_EQ(error, 1167);  // ERROR_DEVICE_NOT_CONNECTED
}
#endif

}  // namespace
}  // namespace tarvex::test
