#pragma once
// What a USB HID device's report descriptor says of it as a scale: whether
// it is one (an application collection on the point-of-sale "Scales" usage
// page 0x8D) and where in its input report the scale puts its status, unit,
// scaling and weight, and which report asks it to zero. From the Device
// Class Definition for HID 1.11 (section 6.2.2, the short items) and the
// HID Point of Sale Usage Tables 1.02 (the Scales page).

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarvex {

constexpr uint16_t HID_PAGE_SCALES = 0x8D;
// The Scales page's usages read here.
constexpr uint16_t HID_DATA_WEIGHT = 0x40;
constexpr uint16_t HID_DATA_SCALING = 0x41;
constexpr uint16_t HID_UNIT_FIRST = 0x51;  // milligram ... 0x5C pound
constexpr uint16_t HID_UNIT_LAST = 0x5C;
constexpr uint16_t HID_STATUS_FIRST = 0x71;  // fault ... 0x78 requires re-zeroing
constexpr uint16_t HID_STATUS_LAST = 0x78;
constexpr uint16_t HID_ZERO_SCALE = 0x80;

// One field of a report: where it lies and how its values read.
struct HidField {
    uint32_t bitOffset = 0;  // from the first byte after the report id
    uint32_t bitSize = 0;
    bool isSigned = false;   // its logical minimum is below zero
    int32_t logicalMin = 0;
    // An array's values name usages: value v stands for usages[v - logicalMin].
    std::vector<uint16_t> usages;
};

enum class HidReportKind { Output, Feature };

struct HidZeroReport {
    HidReportKind kind = HidReportKind::Output;
    uint8_t reportId = 0;
    size_t bytes = 0;       // the report with its id byte, if any
    uint32_t bitOffset = 0;  // of the Zero Scale bit
};

struct HidScaleLayout {
    uint8_t reportId = 0;  // 0: the device numbers no reports
    // Every input report's length with its id byte (where there is one), by id.
    std::map<uint8_t, size_t> inputBytes;
    HidField status;
    HidField unit;
    std::optional<HidField> scaling;  // none: the weight is in whole units
    HidField weight;
    std::optional<HidZeroReport> zero;
    // The descriptor did not describe the fields: read with the common
    // layout (report id, status, unit, exponent, weight 16-bit little-endian).
    bool common = false;
};

// The common layout most USB postal scales use, for a scale whose
// descriptor does not describe its fields.
HidScaleLayout CommonHidScaleLayout(uint8_t reportId);

struct HidDescriptorRead {
    bool isScale = false;            // an application collection on page 0x8D
    std::optional<HidScaleLayout> layout;  // for a scale, always (the common one at worst)
    std::string problem;             // a damaged descriptor, in words; then nothing else is known
};

HidDescriptorRead ReadHidDescriptor(const uint8_t* bytes, size_t size);
inline HidDescriptorRead ReadHidDescriptor(const std::vector<uint8_t>& bytes) {
    return ReadHidDescriptor(bytes.data(), bytes.size());
}

}  // namespace tarvex
