// MT-SICS, as Mettler Toledo's "MT-SICS Interface Command Set" reference
// manuals describe it (e.g. 11780711, for the Classic and New Classic
// balances): commands and answers are ASCII lines closed by CR LF; an
// answer begins with the command it answers and a status letter.
//
//   SI  -> "S S     100.00 g"  stable      "S D      99.98 g"  in motion
//          "S I" busy, "S +" over range, "S -" under range
//   Z   -> "Z A" zeroed; "Z I" / "Z +" / "Z -" not
//   T   -> "T S      12.00 g" tared with that weight; "T I" / "T +" / "T -" not
//   I2  -> "I2 A "<model, capacity and unit>"", I4 -> "I4 A "<serial number>""
//   ES  syntax error (a command it does not know), ET transmission error,
//   EL  logical error (a command it cannot carry out now)

#include <string>

#include "weighing/protocols/AnswerCutter.h"
#include "weighing/protocols/AnswerText.h"
#include "weighing/protocols/ScaleProtocol.h"

namespace tarvex {
namespace {

constexpr std::string_view LINE_END = "\r\n";

bool IsWeightCommand(std::string_view id) {
    return id == "S" || id == "SI" || id == "SIR" || id == "SU" || id == "SIU" || id == "SIRU";
}

// "<value> <unit>", the value right-aligned (its sign may stand apart from
// its digits).
bool ReadWeight(std::string_view text, ScaleAnswer& answer) {
    text = TrimSpaces(text);
    const size_t space = text.rfind(' ');
    if (space == std::string_view::npos) return false;
    const std::string_view unit = text.substr(space + 1);
    const std::optional<std::string> digits = WeightDigits(text.substr(0, space));
    if (!digits || unit.empty()) return false;
    answer.digits = *digits;
    answer.unit = LowerCase(unit);
    return true;
}

// The text of an identity answer, between its quotes.
std::optional<std::string> Quoted(std::string_view text) {
    text = TrimSpaces(text);
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::nullopt;
    return std::string(text.substr(1, text.size() - 2));
}

ScaleAnswer ReadLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    using Kind = ScaleAnswer::Kind;
    ScaleAnswer answer;
    if (line == "ES") {
        answer.kind = Kind::Unknown;
        return answer;
    }
    if (line == "ET" || line == "EL") {
        answer.kind = Kind::NotDone;
        answer.text = std::string(line);
        return answer;
    }
    const size_t space = line.find(' ');
    if (space == std::string_view::npos || space + 1 >= line.size()) return UnreadableAnswer(line);
    const std::string_view id = line.substr(0, space);
    const char status = line[space + 1];
    const std::string_view rest = line.substr(space + 2);
    // The status letter stands alone, or before a space and what follows.
    if (!rest.empty() && rest.front() != ' ') return UnreadableAnswer(line);
    answer.command = std::string(id);
    const bool bare = TrimSpaces(rest).empty();
    if (status == 'I' || status == '+' || status == '-') {
        if (!bare) return UnreadableAnswer(line);
        if (IsWeightCommand(id) && status != 'I') {
            answer.kind = Kind::Status;
            answer.status.over = status == '+';
            answer.status.under = status == '-';
        } else {
            answer.kind = Kind::NotDone;
            answer.text = std::string(1, status);
        }
        return answer;
    }
    if (IsWeightCommand(id) && (status == 'S' || status == 'D')) {
        if (!ReadWeight(rest, answer)) return UnreadableAnswer(line);
        answer.kind = Kind::Weight;
        answer.status.motion = status == 'D';
        return answer;
    }
    if (id == "Z" && status == 'A' && bare) {
        answer.kind = Kind::Done;
        return answer;
    }
    if (id == "T" && status == 'S') {
        if (!ReadWeight(rest, answer)) return UnreadableAnswer(line);
        answer.kind = Kind::Done;
        return answer;
    }
    if ((id == "I2" || id == "I4") && status == 'A') {
        const std::optional<std::string> text = Quoted(rest);
        if (!text) return UnreadableAnswer(line);
        answer.kind = Kind::Identity;
        answer.text = *text;
        return answer;
    }
    return UnreadableAnswer(line);
}

class CMtSicsProtocol final : public CCutProtocol {
public:
    CMtSicsProtocol() : CCutProtocol(std::nullopt, "\n") {}
    ScaleProtocolKind Kind() const override { return ScaleProtocolKind::MtSics; }
    LineSettings Line() const override { return {9600, 8, 'N', 1}; }
    std::string Command(ScaleCommand command) const override {
        switch (command) {
            case ScaleCommand::Poll: return std::string("SI").append(LINE_END);
            case ScaleCommand::Zero: return std::string("Z").append(LINE_END);
            case ScaleCommand::Tare: return std::string("T").append(LINE_END);
            case ScaleCommand::Confirm: return std::string("I2").append(LINE_END);
        }
        return {};
    }

private:
    ScaleAnswer Read(std::string_view line) const override { return ReadLine(line); }
};

}  // namespace

std::unique_ptr<IScaleProtocol> MakeMtSicsProtocol() { return std::make_unique<CMtSicsProtocol>(); }

}  // namespace tarvex
