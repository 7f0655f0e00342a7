// A USB scale of the HID point-of-sale class, as the HID Point of Sale
// Usage Tables 1.02 describe its Scales page (0x8D): each input report
// carries a status (an array of usages 0x71-0x78), a unit (an array of
// 0x51-0x5C), Data Scaling (a signed power of ten) and Data Weight; where
// in the report, the device's descriptor says. The scale sends a report
// whenever it has something to say: there is no poll, and the device itself
// confirms the scale. Zero is a report the scale takes, where it offers one.

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "serial/HidDescriptor.h"
#include "weighing/protocols/AnswerText.h"
#include "weighing/protocols/ScaleProtocol.h"

namespace tarvex {
namespace {

// The units of usages 0x51-0x5C, as the rows keep them.
constexpr std::string_view UNITS[] = {"mg", "g", "kg", "ct", "tael", "gr", "dwt", "t", "ton", "ozt", "oz", "lb"};

int64_t FieldValue(std::string_view report, const HidField& field) {
    uint64_t value = 0;
    for (uint32_t bit = 0; bit < field.bitSize; ++bit) {
        const uint32_t at = field.bitOffset + bit;
        if (at / 8 >= report.size()) return 0;
        if ((static_cast<unsigned char>(report[at / 8]) >> (at % 8)) & 1) value |= uint64_t{1} << bit;
    }
    if (field.isSigned && field.bitSize > 0 && (value >> (field.bitSize - 1)) & 1) value |= ~uint64_t{0} << field.bitSize;
    return static_cast<int64_t>(value);
}

// The usage an array's value names; 0 for none.
uint16_t UsageOf(std::string_view report, const HidField& field) {
    const int64_t index = FieldValue(report, field) - field.logicalMin;
    if (index < 0 || index >= static_cast<int64_t>(field.usages.size())) return 0;
    return field.usages[static_cast<size_t>(index)];
}

// 785 and -2: "7.85"; 12 and 1: "120".
std::string Digits(int64_t value, int64_t exponent) {
    const std::string figures = std::to_string(std::llabs(value));
    const size_t places = static_cast<size_t>(std::clamp<int64_t>(-exponent, 0, 18));
    const size_t zeros = static_cast<size_t>(std::clamp<int64_t>(exponent, 0, 18));
    // At least one figure before the point.
    const std::string padded = std::string(figures.size() <= places ? places + 1 - figures.size() : 0, '0') + figures;
    const size_t whole = padded.size() - places;
    std::string digits = value < 0 ? "-" : "";
    digits += std::string_view(padded).substr(0, whole);
    digits += std::string(zeros, '0');
    if (places > 0) digits += "." + padded.substr(whole);
    return digits;
}

class CHidScaleProtocol final : public IScaleProtocol {
public:
    explicit CHidScaleProtocol(HidScaleLayout layout) : m_layout(std::move(layout)) {}

    ScaleProtocolKind Kind() const override { return ScaleProtocolKind::Hid; }

    std::string Command(ScaleCommand command) const override {
        if (command != ScaleCommand::Zero || !m_layout.zero) return {};
        const HidZeroReport& zero = *m_layout.zero;
        std::string report(zero.bytes, '\0');
        const size_t first = zero.reportId != 0 ? 1 : 0;
        if (first) report[0] = static_cast<char>(zero.reportId);
        const size_t at = first + zero.bitOffset / 8;
        if (at < report.size()) report[at] = static_cast<char>(report[at] | (1 << (zero.bitOffset % 8)));
        return report;
    }

    void Feed(std::string_view bytes, std::vector<ScaleAnswer>& answers) override {
        m_pending.append(bytes);
        // One report per read from a device; a pipe may join them. A byte
        // that begins no report this device has is passed over, one at a
        // time, so the reports after it are found however the reads fell.
        while (!m_pending.empty()) {
            const size_t length = ReportBytes(static_cast<uint8_t>(m_pending[0]));
            if (length == 0) {
                m_unknown.push_back(m_pending[0]);
                m_pending.erase(0, 1);
                if (m_unknown.size() >= MAX_ANSWER_BYTES) TellUnknown(answers);
                continue;
            }
            TellUnknown(answers);
            if (m_pending.size() < length) return;
            Report(std::string_view(m_pending).substr(0, length), answers);
            m_pending.erase(0, length);
        }
    }

    void Flush(std::vector<ScaleAnswer>& answers) override {
        TellUnknown(answers);
        if (!m_pending.empty()) answers.push_back(UnreadableAnswer(m_pending));
        m_pending.clear();
    }

private:
    bool Numbered() const { return m_layout.common || (!m_layout.inputBytes.empty() && m_layout.inputBytes.begin()->first != 0); }

    // The length of the report that starts with this byte; 0 for none.
    size_t ReportBytes(uint8_t first) const {
        if (m_layout.common) return 6;
        const auto it = m_layout.inputBytes.find(Numbered() ? first : 0);
        return it == m_layout.inputBytes.end() ? 0 : it->second;
    }

    void Report(std::string_view report, std::vector<ScaleAnswer>& answers) const {
        if (Numbered()) {
            // Another report of the device (a keypad's, a battery's) says nothing of the weight.
            if (!m_layout.common && static_cast<uint8_t>(report[0]) != m_layout.reportId) return;
            report.remove_prefix(1);
        }
        ScaleAnswer answer;
        answer.kind = ScaleAnswer::Kind::Weight;
        switch (UsageOf(report, m_layout.status)) {
            case 0x71: answer.status.fault = true; break;  // fault
            case 0x72: answer.status.atZero = true; break;  // stable at the centre of zero
            case 0x73: answer.status.motion = true; break;  // in motion
            case 0x74: break;                               // stable
            case 0x75: answer.status.under = true; break;   // under zero
            case 0x76: answer.status.over = true; break;    // over the weight limit
            case 0x77:                                      // requires calibration
            case 0x78: answer.status.fault = true; break;   // requires re-zeroing
            default: answers.push_back(UnreadableAnswer(report)); return;
        }
        const uint16_t unit = UsageOf(report, m_layout.unit);
        int64_t weight = FieldValue(report, m_layout.weight);
        // A weight without a sign is, under zero, the distance below it.
        if (!m_layout.weight.isSigned && answer.status.under) weight = -weight;
        const int64_t exponent = m_layout.scaling ? FieldValue(report, *m_layout.scaling) : 0;
        if (unit < HID_UNIT_FIRST || unit > HID_UNIT_LAST) {
            // No weight can be read without its unit; the status still counts.
            answer.kind = ScaleAnswer::Kind::Status;
        } else {
            answer.unit = std::string(UNITS[unit - HID_UNIT_FIRST]);
            answer.digits = Digits(weight, exponent);
        }
        answers.push_back(std::move(answer));
    }

    void TellUnknown(std::vector<ScaleAnswer>& answers) {
        if (m_unknown.empty()) return;
        answers.push_back(UnreadableAnswer(m_unknown));
        m_unknown.clear();
    }

    HidScaleLayout m_layout;
    std::string m_pending;
    std::string m_unknown;  // bytes passed over, not yet told
};

}  // namespace

std::unique_ptr<IScaleProtocol> MakeHidScaleProtocol(HidScaleLayout layout) {
    return std::make_unique<CHidScaleProtocol>(std::move(layout));
}

}  // namespace tarvex
