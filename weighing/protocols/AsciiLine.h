#pragma once
// The settings of a scale that prints its weight as lines of text.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "weighing/protocols/ScaleProtocol.h"

namespace tarvex {

// Reads the common lines "ST,GS,+  1.500kg" (stable, gross), "US,NT,-0.250 kg"
// (in motion, net), "OL,GS,..." (over capacity) and "    0.665 g".
constexpr std::string_view DEFAULT_ASCII_PATTERN =
    R"(^\s*(?:(?<over>OL)\b.*|(?:(?:ST|(?<motion>US))\s*,\s*(?:GS|NT|TR|GW|NW)\s*,\s*)?)"
    R"((?<weight>[-+]?\s*(?:\d+\.?\d*|\.\d+))\s*(?<unit>[A-Za-z]{1,3})?\s*)$)";

struct AsciiLineSettings {
    std::string pattern{DEFAULT_ASCII_PATTERN};
    std::string unit = "kg";  // for lines without one
    // Bytes to send; empty for a scale that prints by itself.
    std::string poll, zero, tare;
};

// Why the pattern cannot be used, in PCRE2's words; empty when it can.
std::string AsciiPatternError(std::string_view pattern);
// nullptr when the pattern cannot be used.
std::unique_ptr<IScaleProtocol> MakeAsciiLineProtocol(AsciiLineSettings settings);

// Bytes as Setting.ini writes them: "P\r\n", "\x1b"; the escapes are
// \r, \n, \t, \\ and \xHH. nullopt for an escape it does not know.
std::optional<std::string> BytesFromEscapes(std::string_view text);

}  // namespace tarvex
