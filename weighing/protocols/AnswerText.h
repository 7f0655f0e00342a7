#pragma once
// The small pieces of text the scales' answers are made of.

#include <optional>
#include <string>
#include <string_view>

#include "weighing/protocols/ScaleProtocol.h"

namespace tarvex {

std::string_view TrimSpaces(std::string_view text);
std::string LowerCase(std::string_view text);
// A weight as scales write it: an optional sign, then digits with at most
// one point, spaces before and between sign and digits allowed ("-  1.50").
// Returns it without the spaces; nullopt for anything else.
std::optional<std::string> WeightDigits(std::string_view text);
// An answer that could not be read, keeping its bytes.
ScaleAnswer UnreadableAnswer(std::string_view bytes);

}  // namespace tarvex
