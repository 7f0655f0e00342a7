#include "serial/HidDescriptor.h"

#include <algorithm>

namespace tarvex {
namespace {

// A descriptor's items (HID 1.11, 6.2.2.2): the prefix byte holds the
// data's size (0, 1, 2 or 4 bytes), the type and the tag.
enum ItemType : uint8_t { MAIN = 0, GLOBAL = 1, LOCAL = 2 };
enum MainTag : uint8_t { INPUT = 0x8, OUTPUT = 0x9, COLLECTION = 0xA, FEATURE = 0xB, END_COLLECTION = 0xC };
enum GlobalTag : uint8_t {
    USAGE_PAGE = 0x0,
    LOGICAL_MIN = 0x1,
    REPORT_SIZE = 0x7,
    REPORT_ID = 0x8,
    REPORT_COUNT = 0x9,
    PUSH = 0xA,
    POP = 0xB,
};
enum LocalTag : uint8_t { USAGE = 0x0, USAGE_MIN = 0x1, USAGE_MAX = 0x2 };
constexpr uint8_t LONG_ITEM = 0xFE;
constexpr uint32_t MAIN_CONSTANT = 0x01;
constexpr uint32_t MAIN_VARIABLE = 0x02;
constexpr uint32_t COLLECTION_APPLICATION = 0x01;

constexpr int MAX_NESTING = 32;
constexpr uint32_t MAX_REPORT_BITS = 4096 * 8;
// Usages a range may name; more is no scale's and only costs memory.
constexpr uint32_t MAX_RANGE = 1024;
constexpr uint32_t MAX_FIELD_BITS = 32;

struct Globals {
    uint16_t usagePage = 0;
    int32_t logicalMin = 0;
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint8_t reportId = 0;
};

struct Locals {
    std::vector<uint32_t> usages;  // page << 16 | usage
    std::optional<uint32_t> min, max;
    void Clear() { *this = Locals(); }
};

// Where one report's fields for the scale were found.
struct ScaleFields {
    std::optional<HidField> status, unit, scaling, weight;
};

uint32_t Unsigned(const uint8_t* data, size_t size) {
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i) value |= static_cast<uint32_t>(data[i]) << (8 * i);
    return value;
}

int32_t Signed(const uint8_t* data, size_t size) {
    const uint32_t value = Unsigned(data, size);
    if (size == 1) return static_cast<int8_t>(value);
    if (size == 2) return static_cast<int16_t>(value);
    return static_cast<int32_t>(value);
}

bool OnScalesPage(uint32_t usage) { return (usage >> 16) == HID_PAGE_SCALES; }
uint16_t Id(uint32_t usage) { return static_cast<uint16_t>(usage & 0xFFFF); }

bool AllWithin(const std::vector<uint16_t>& usages, uint16_t first, uint16_t last) {
    return !usages.empty() &&
           std::all_of(usages.begin(), usages.end(), [&](uint16_t u) { return u == 0 || (u >= first - 1 && u <= last); }) &&
           std::any_of(usages.begin(), usages.end(), [&](uint16_t u) { return u >= first && u <= last; });
}

class CReader {
public:
    HidDescriptorRead Read(const uint8_t* bytes, size_t size) {
        size_t at = 0;
        while (at < size && m_read.problem.empty()) {
            const uint8_t prefix = bytes[at++];
            if (prefix == LONG_ITEM) {
                // No long item is defined; its data is passed over.
                if (at + 2 > size) return Fail("the descriptor ends inside an item");
                at += 2 + bytes[at];
                if (at > size) return Fail("the descriptor ends inside an item");
                continue;
            }
            static constexpr size_t SIZES[] = {0, 1, 2, 4};
            const size_t dataSize = SIZES[prefix & 0x3];
            if (at + dataSize > size) return Fail("the descriptor ends inside an item");
            Item(static_cast<uint8_t>((prefix >> 2) & 0x3), static_cast<uint8_t>(prefix >> 4), bytes + at, dataSize);
            at += dataSize;
        }
        if (!m_read.problem.empty()) return m_read;
        if (m_depth != 0) return Fail("a collection is never closed");
        Finish();
        return m_read;
    }

private:
    HidDescriptorRead Fail(std::string problem) {
        m_read = HidDescriptorRead();
        m_read.problem = std::move(problem);
        return m_read;
    }

    void Item(uint8_t type, uint8_t tag, const uint8_t* data, size_t size) {
        if (type == MAIN) Main(tag, Unsigned(data, size));
        else if (type == GLOBAL) Global(tag, data, size);
        else if (type == LOCAL) Local(tag, data, size);
    }

    void Global(uint8_t tag, const uint8_t* data, size_t size) {
        switch (tag) {
            case USAGE_PAGE: m_globals.usagePage = static_cast<uint16_t>(Unsigned(data, size)); break;
            case LOGICAL_MIN: m_globals.logicalMin = Signed(data, size); break;
            case REPORT_SIZE: m_globals.reportSize = Unsigned(data, size); break;
            case REPORT_COUNT: m_globals.reportCount = Unsigned(data, size); break;
            case REPORT_ID:
                if (Unsigned(data, size) == 0 || Unsigned(data, size) > 0xFF) {
                    Fail("a report id outside 1 to 255");
                    return;
                }
                m_globals.reportId = static_cast<uint8_t>(Unsigned(data, size));
                m_numbered = true;
                break;
            case PUSH:
                if (m_stack.size() >= MAX_NESTING) Fail("pushes nested deeper than 32");
                else m_stack.push_back(m_globals);
                break;
            case POP:
                if (m_stack.empty()) {
                    Fail("a pop without a push");
                    return;
                }
                m_globals = m_stack.back();
                m_stack.pop_back();
                break;
            default: break;
        }
    }

    void Local(uint8_t tag, const uint8_t* data, size_t size) {
        // A four-byte usage names its page; a shorter one is on the current page.
        const uint32_t value = size == 4 ? Unsigned(data, size) : (uint32_t{m_globals.usagePage} << 16) | Unsigned(data, size);
        if (tag == USAGE) m_locals.usages.push_back(value);
        else if (tag == USAGE_MIN) m_locals.min = value;
        else if (tag == USAGE_MAX) m_locals.max = value;
    }

    std::vector<uint32_t> Usages() const {
        std::vector<uint32_t> usages = m_locals.usages;
        if (m_locals.min && m_locals.max && *m_locals.max >= *m_locals.min && *m_locals.max - *m_locals.min < MAX_RANGE)
            for (uint32_t u = *m_locals.min; u <= *m_locals.max; ++u) usages.push_back(u);
        return usages;
    }

    void Main(uint8_t tag, uint32_t flags) {
        switch (tag) {
            case COLLECTION:
                if (++m_depth > MAX_NESTING) {
                    Fail("collections nested deeper than 32");
                    return;
                }
                if (flags == COLLECTION_APPLICATION && !m_locals.usages.empty() && OnScalesPage(m_locals.usages.back()))
                    m_read.isScale = true;
                break;
            case END_COLLECTION:
                if (--m_depth < 0) {
                    Fail("an end of a collection that was never opened");
                    return;
                }
                break;
            case INPUT:
            case OUTPUT:
            case FEATURE: Field(tag, flags); break;
            default: break;
        }
        m_locals.Clear();
    }

    void Field(uint8_t tag, uint32_t flags) {
        uint32_t& offset = m_offsets[{tag, m_globals.reportId}];
        const uint64_t bits = uint64_t{m_globals.reportSize} * m_globals.reportCount;
        if (offset + bits > MAX_REPORT_BITS) {
            Fail("a report longer than 4096 bytes");
            return;
        }
        const uint32_t start = offset;
        offset += static_cast<uint32_t>(bits);
        if ((flags & MAIN_CONSTANT) || m_globals.reportSize == 0 || m_globals.reportSize > MAX_FIELD_BITS) return;
        const std::vector<uint32_t> usages = Usages();
        if (usages.empty()) return;
        HidField field;
        field.bitSize = m_globals.reportSize;
        field.logicalMin = m_globals.logicalMin;
        field.isSigned = m_globals.logicalMin < 0;
        if (!(flags & MAIN_VARIABLE)) {
            // An array: the first of its values is the one read.
            field.bitOffset = start;
            for (const uint32_t u : usages) field.usages.push_back(OnScalesPage(u) ? Id(u) : 0);
            if (tag == INPUT) Array(field);
            return;
        }
        // Variables: one usage each, the last repeated for the rest.
        for (uint32_t k = 0; k < m_globals.reportCount && k < MAX_RANGE; ++k) {
            const uint32_t usage = usages[std::min<size_t>(k, usages.size() - 1)];
            if (!OnScalesPage(usage)) continue;
            field.bitOffset = start + k * m_globals.reportSize;
            Variable(tag, Id(usage), field);
        }
    }

    void Array(const HidField& field) {
        ScaleFields& found = m_fields[m_globals.reportId];
        if (!found.status && AllWithin(field.usages, HID_STATUS_FIRST, HID_STATUS_LAST)) found.status = field;
        else if (!found.unit && AllWithin(field.usages, HID_UNIT_FIRST, HID_UNIT_LAST)) found.unit = field;
    }

    void Variable(uint8_t tag, uint16_t usage, const HidField& field) {
        if (tag == INPUT) {
            ScaleFields& found = m_fields[m_globals.reportId];
            if (usage == HID_DATA_WEIGHT && !found.weight) found.weight = field;
            if (usage == HID_DATA_SCALING && !found.scaling) found.scaling = field;
        } else if (usage == HID_ZERO_SCALE && !m_zero) {
            m_zero = HidZeroReport{tag == FEATURE ? HidReportKind::Feature : HidReportKind::Output, m_globals.reportId, 0,
                                   field.bitOffset};
            m_zeroTag = tag;
        }
    }

    size_t Bytes(uint8_t tag, uint8_t id) const {
        const auto it = m_offsets.find({tag, id});
        const uint32_t bits = it == m_offsets.end() ? 0 : it->second;
        return (bits + 7) / 8 + (m_numbered ? 1 : 0);
    }

    void Finish() {
        if (!m_read.isScale) return;
        for (const auto& [id, fields] : m_fields) {
            if (!fields.status || !fields.unit || !fields.weight) continue;
            HidScaleLayout layout;
            layout.reportId = id;
            layout.status = *fields.status;
            layout.unit = *fields.unit;
            layout.scaling = fields.scaling;
            layout.weight = *fields.weight;
            for (const auto& [key, bits] : m_offsets)
                if (key.first == INPUT) layout.inputBytes[key.second] = Bytes(INPUT, key.second);
            if (m_zero) {
                layout.zero = *m_zero;
                layout.zero->bytes = Bytes(m_zeroTag, m_zero->reportId);
            }
            m_read.layout = std::move(layout);
            return;
        }
        m_read.layout = CommonHidScaleLayout(0);
    }

    HidDescriptorRead m_read;
    Globals m_globals;
    std::vector<Globals> m_stack;
    Locals m_locals;
    int m_depth = 0;
    bool m_numbered = false;
    std::map<std::pair<uint8_t, uint8_t>, uint32_t> m_offsets;  // bits so far by (tag, report id)
    std::map<uint8_t, ScaleFields> m_fields;                     // by report id
    std::optional<HidZeroReport> m_zero;
    uint8_t m_zeroTag = OUTPUT;
};

}  // namespace

HidScaleLayout CommonHidScaleLayout(uint8_t reportId) {
    HidScaleLayout layout;
    layout.reportId = reportId;
    layout.common = true;
    std::vector<uint16_t> statuses, units;
    for (uint16_t u = HID_STATUS_FIRST; u <= HID_STATUS_LAST; ++u) statuses.push_back(u);
    for (uint16_t u = HID_UNIT_FIRST; u <= HID_UNIT_LAST; ++u) units.push_back(u);
    layout.status = HidField{0, 8, false, 1, statuses};
    layout.unit = HidField{8, 8, false, 1, units};
    layout.scaling = HidField{16, 8, true, -128, {}};
    layout.weight = HidField{24, 16, false, 0, {}};
    return layout;
}

HidDescriptorRead ReadHidDescriptor(const uint8_t* bytes, size_t size) { return CReader().Read(bytes, size); }

}  // namespace tarvex
