// NCI, as Avery Weigh-Tronix's control document SCP-01 ("NCI Standard
// Communication Protocol") and the manuals of the scales that speak it
// describe it: commands are a letter and CR; every answer ends with ETX.
//
//   W<CR> -> <LF>xxxx.xxuu<CR><LF>hh<CR><ETX>   weight, unit and status
//            <LF>hh<CR><ETX>                    status alone while the weight is not valid
//   S<CR> -> <LF>hh<CR><ETX>      Z<CR> -> zeroes, then the same
//   any other command -> <LF>?<CR><ETX>
//
// Status bytes, two or more, each with bits 4 and 5 set; from the second
// on, bit 6 is set while another follows. Some scales put an "S" before them.
//   first:  bit 0 in motion, bit 1 at zero, bit 2 RAM error, bit 3 EEPROM error
//   second: bit 0 under capacity, bit 1 over capacity, bit 2 ROM error,
//           bit 3 faulty calibration
//   third (where sent): bits 0-1 range, bit 2 net, bit 3 initial zero error

#include <string>
#include <vector>

#include "weighing/protocols/AnswerCutter.h"
#include "weighing/protocols/AnswerText.h"
#include "weighing/protocols/ScaleProtocol.h"

namespace tarvex {
namespace {

constexpr char ETX = 0x03;
constexpr std::string_view ANSWER_END = "\x03";

std::vector<std::string_view> Lines(std::string_view answer) {
    std::vector<std::string_view> lines;
    size_t begin = 0;
    for (size_t i = 0; i <= answer.size(); ++i) {
        if (i < answer.size() && answer[i] != '\r' && answer[i] != '\n') continue;
        if (i > begin) lines.push_back(answer.substr(begin, i - begin));
        begin = i + 1;
    }
    return lines;
}

std::optional<ScaleStatus> StatusOf(std::string_view bytes) {
    if (!bytes.empty() && bytes.front() == 'S') bytes.remove_prefix(1);
    if (bytes.size() < 2) return std::nullopt;
    ScaleStatus status;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i] & 0x7F);
        // The first byte's bit 6 is always clear; a later one's says whether another follows.
        const bool follows = i > 0 && i + 1 < bytes.size();
        if ((byte & 0x30) != 0x30 || ((byte & 0x40) != 0) != follows) return std::nullopt;
        if (i == 0) {
            status.motion = (byte & 0x01) != 0;
            status.atZero = (byte & 0x02) != 0;
            status.fault = status.fault || (byte & 0x0C) != 0;
        } else if (i == 1) {
            status.under = (byte & 0x01) != 0;
            status.over = (byte & 0x02) != 0;
            status.fault = status.fault || (byte & 0x0C) != 0;
        } else if (i == 2) {
            status.fault = status.fault || (byte & 0x08) != 0;
        }
    }
    return status;
}

// "  12.34lb", "-0.50kg", " 1234g ": the digits, then the unit's letters.
bool ReadWeight(std::string_view text, ScaleAnswer& answer) {
    text = TrimSpaces(text);
    size_t letters = text.size();
    while (letters > 0 && ((text[letters - 1] >= 'a' && text[letters - 1] <= 'z') ||
                           (text[letters - 1] >= 'A' && text[letters - 1] <= 'Z')))
        --letters;
    const std::string_view unit = text.substr(letters);
    const std::optional<std::string> digits = WeightDigits(text.substr(0, letters));
    if (!digits || unit.empty() || unit.size() > 2) return false;
    answer.digits = *digits;
    answer.unit = LowerCase(unit);
    return true;
}

ScaleAnswer ReadAnswer(std::string_view answerBytes) {
    const std::vector<std::string_view> lines = Lines(answerBytes);
    ScaleAnswer answer;
    if (lines.size() == 1 && lines[0] == "?") {
        answer.kind = ScaleAnswer::Kind::Unknown;
        return answer;
    }
    if (lines.empty() || lines.size() > 2) return UnreadableAnswer(std::string(answerBytes) + ETX);
    const std::optional<ScaleStatus> status = StatusOf(lines.back());
    if (!status) return UnreadableAnswer(std::string(answerBytes) + ETX);
    answer.status = *status;
    answer.kind = ScaleAnswer::Kind::Status;
    if (lines.size() == 2) {
        if (!ReadWeight(lines[0], answer)) return UnreadableAnswer(std::string(answerBytes) + ETX);
        answer.kind = ScaleAnswer::Kind::Weight;
    }
    return answer;
}

class CNciProtocol final : public CCutProtocol {
public:
    CNciProtocol() : CCutProtocol(std::nullopt, ANSWER_END) {}
    ScaleProtocolKind Kind() const override { return ScaleProtocolKind::Nci; }
    LineSettings Line() const override { return {9600, 7, 'E', 1}; }
    std::string Command(ScaleCommand command) const override {
        switch (command) {
            case ScaleCommand::Poll:
            case ScaleCommand::Confirm: return "W\r";
            case ScaleCommand::Zero: return "Z\r";
            case ScaleCommand::Tare: return "T\r";
        }
        return {};
    }

private:
    ScaleAnswer Read(std::string_view answer) const override { return ReadAnswer(answer); }
};

}  // namespace

std::unique_ptr<IScaleProtocol> MakeNciProtocol() { return std::make_unique<CNciProtocol>(); }

}  // namespace tarvex
