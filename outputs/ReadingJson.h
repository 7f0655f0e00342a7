#pragma once
// One reading as the feed's JSON object, on one line.

#include <string>

#include "outputs/ReadingFields.h"
#include "outputs/ReadingOutput.h"

namespace tarvex {

std::string ReadingJson(const ReadingFields& fields);
// The live weight: {"desk", "weight", "unit", "kg", "state", "state_text"}.
std::string LiveWeightJson(const LiveWeightState& live);

}  // namespace tarvex
