#pragma once
// A protocol fed the bytes in pieces of one size, then flushed: what the
// fuzzers compare with the same bytes fed whole.

#include <string_view>
#include <vector>

#include "weighing/protocols/ScaleProtocol.h"

namespace tarvex::fuzz {

inline std::vector<ScaleAnswer> HeardInPieces(IScaleProtocol& protocol, std::string_view bytes, size_t piece) {
    std::vector<ScaleAnswer> answers;
    for (size_t at = 0; at < bytes.size(); at += piece) protocol.Feed(bytes.substr(at, piece), answers);
    protocol.Flush(answers);
    return answers;
}

}  // namespace tarvex::fuzz
