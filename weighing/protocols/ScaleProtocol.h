#pragma once
// Scales that are asked for their weight (or stream it) rather than pushing
// frames to be acknowledged. A protocol translates, with no I/O: the bytes
// the scale sent become what it said, and it names the bytes to send to
// poll, zero, tare and confirm the scale on connect.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/LineSettings.h"

namespace tarvex {

struct HidScaleLayout;

// Hid is a USB scale's own: its port decides it, never Setting.ini.
enum class ScaleProtocolKind { Frames, MtSics, Toledo, Nci, Ascii, Hid };

// The names Setting.ini uses; nullopt for a name no protocol has.
std::optional<ScaleProtocolKind> ScaleProtocolNamed(std::string_view name);
std::string_view ScaleProtocolName(ScaleProtocolKind kind);

// "9600,7,E,1"; nullopt for anything else.
std::optional<LineSettings> LineSettingsFrom(std::string_view text);

// What the scale reports of itself besides a weight.
struct ScaleStatus {
    bool motion = false;
    bool atZero = false;
    bool over = false;   // over capacity
    bool under = false;  // under zero
    bool fault = false;  // an error of the scale's own (memory, calibration)
    bool operator==(const ScaleStatus&) const = default;
};

struct ScaleAnswer {
    enum class Kind {
        Weight,      // digits and unit, with the status
        Status,      // a status alone: the weight is not valid now, or a command's outcome
        Done,        // a command carried out (a tare brings its weight)
        NotDone,     // a command the scale could not carry out now
        Identity,    // the scale's model or serial number
        Unknown,     // the scale did not understand what it was sent
        Unreadable,  // bytes that are no answer of this protocol
    };
    Kind kind = Kind::Unreadable;
    std::string command;  // the command answered, where the answer names it
    std::string digits;   // as the scale sent them: "-12.50"
    std::string unit;     // lower case: "g", "kg", "lb", "oz"
    ScaleStatus status;
    std::string text;     // Identity: its text; NotDone: the scale's reason code; Unreadable: the bytes
};

enum class ScaleCommand { Poll, Zero, Tare, Confirm };

class IScaleProtocol {
public:
    virtual ~IScaleProtocol() = default;
    virtual ScaleProtocolKind Kind() const = 0;
    virtual LineSettings Line() const { return {}; }
    // The bytes of a command; empty when the protocol has none.
    virtual std::string Command(ScaleCommand command) const = 0;
    // Bytes as read, any number; the answers they complete are appended.
    virtual void Feed(std::string_view bytes, std::vector<ScaleAnswer>& answers) = 0;
    // The line fell quiet: an unfinished answer is unreadable.
    virtual void Flush(std::vector<ScaleAnswer>& answers) = 0;
};

// An answer never grows past this; longer runs of bytes are unreadable.
constexpr size_t MAX_ANSWER_BYTES = 256;

std::unique_ptr<IScaleProtocol> MakeMtSicsProtocol();
// The Toledo 8217 wire has no unit: the scale's is given ("lb" or "kg").
std::unique_ptr<IScaleProtocol> MakeToledoProtocol(std::string unit);
std::unique_ptr<IScaleProtocol> MakeNciProtocol();
// A USB scale's reports, laid out as its descriptor says.
std::unique_ptr<IScaleProtocol> MakeHidScaleProtocol(HidScaleLayout layout);

}  // namespace tarvex
