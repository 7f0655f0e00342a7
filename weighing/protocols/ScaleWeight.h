#pragma once
// A weight as a scale said it (its digits and unit) in kilograms, with the
// units' exact factors: 1 lb = 0.45359237 kg by definition, 16 oz to the
// pound, 1000 g to the kilogram.

#include <optional>
#include <string_view>

namespace tarvex {

// nullopt for digits that are no number or a unit without a known factor.
std::optional<double> KilogramsOf(std::string_view digits, std::string_view unit);

}  // namespace tarvex
