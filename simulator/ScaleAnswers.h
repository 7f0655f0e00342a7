#pragma once
// What a simulated scale of each protocol answers, in the bytes its maker
// publishes: MT-SICS lines, Toledo 8217 records, NCI answers and the
// common "ST,GS,+  1.500kg" lines of a scale that prints its weight.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/Platter.h"

namespace tarvex::sim {

enum class Protocol { MtSics, Toledo, Nci, Ascii };
// "mt-sics", "toledo", "nci", "ascii".
std::optional<Protocol> ProtocolNamed(std::string_view name);

// Cuts what the program sends into commands, as the protocol ends them.
class CCommandCutter {
public:
    explicit CCommandCutter(Protocol protocol) : m_protocol(protocol) {}
    std::vector<std::string> Feed(std::string_view bytes);

private:
    Protocol m_protocol;
    std::string m_open;
};

struct AnswerCounts {
    unsigned polls = 0, zeros = 0, tares = 0, unknown = 0;
};

// The answer to one command; empty when the scale says nothing.
std::string AnswerTo(Protocol protocol, const std::string& command, CPlatter& platter, Clock::time_point now,
                     const std::string& unit, AnswerCounts& counts);
// The line a printing scale sends of itself.
std::string PrintedLine(const PlatterState& state, const std::string& unit);
// Bit 7 made the even parity bit of the seven below it: a 7E1 scale's
// bytes as an 8-bit line reads them.
std::string WithParityBits(std::string bytes);

}  // namespace tarvex::sim
