// Toledo 8217 (and its 8213 demand mode), as the point-of-sale scales that
// speak it publish it (the scale makers' "Toledo 8213 demand format"
// appendices): single-letter commands without a line end; "W" is answered
// with STX, the weight's digits and CR, no unit on the wire, or, while the
// weight is not valid, with a status record STX "?" status CR. "Z" zeroes
// and "T" tares; each is answered with a status record.
//
// The status byte: bit 0 in motion, bit 1 out of range, bit 2 under zero,
// bit 3 outside the zero capture range, bit 4 at the centre of zero,
// bits 5 and 6 always set, bit 7 the parity bit. A scale that does not
// know a command answers STX "?" CR, or a status record.

#include <string>

#include "weighing/protocols/AnswerCutter.h"
#include "weighing/protocols/AnswerText.h"
#include "weighing/protocols/ScaleProtocol.h"

namespace tarvex {
namespace {

constexpr char STX = 0x02;
constexpr std::string_view CR = "\r";

ScaleStatus StatusOf(unsigned char byte) {
    ScaleStatus status;
    status.motion = (byte & 0x01) != 0;
    status.over = (byte & 0x02) != 0;
    status.under = (byte & 0x04) != 0;
    status.fault = (byte & 0x08) != 0;
    status.atZero = (byte & 0x10) != 0;
    return status;
}

class CToledoProtocol final : public CCutProtocol {
public:
    explicit CToledoProtocol(std::string unit) : CCutProtocol(STX, CR), m_unit(std::move(unit)) {}
    ScaleProtocolKind Kind() const override { return ScaleProtocolKind::Toledo; }
    LineSettings Line() const override { return {9600, 7, 'E', 1}; }
    std::string Command(ScaleCommand command) const override {
        switch (command) {
            case ScaleCommand::Poll:
            case ScaleCommand::Confirm: return "W";
            case ScaleCommand::Zero: return "Z";
            case ScaleCommand::Tare: return "T";
        }
        return {};
    }

private:
    ScaleAnswer Read(std::string_view record) const override {
        ScaleAnswer answer;
        if (!record.empty() && record.front() == '?') {
            if (record.size() == 1) {
                answer.kind = ScaleAnswer::Kind::Unknown;
                return answer;
            }
            const auto byte = static_cast<unsigned char>(record[1] & 0x7F);
            if (record.size() != 2 || (byte & 0x60) != 0x60) return UnreadableAnswer(std::string(1, STX).append(record));
            answer.kind = ScaleAnswer::Kind::Status;
            answer.status = StatusOf(byte);
            return answer;
        }
        const std::optional<std::string> digits = WeightDigits(record);
        if (!digits) return UnreadableAnswer(std::string(1, STX).append(record));
        answer.kind = ScaleAnswer::Kind::Weight;
        answer.digits = *digits;
        answer.unit = m_unit;
        return answer;
    }

    std::string m_unit;
};

}  // namespace

std::unique_ptr<IScaleProtocol> MakeToledoProtocol(std::string unit) {
    return std::make_unique<CToledoProtocol>(std::move(unit));
}

}  // namespace tarvex
