#pragma once
// Display units, the stored kilogram values and the text of a weight.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex {

constexpr int UNIT_KG = 0;
constexpr int UNIT_LB = 1;
constexpr int UNIT_LBOZ = 2;

// Values kept for rows that hold no weight; each row also keeps its kind, so
// a reading of exactly 0.0 kg or 555.5 kg stays a reading.
constexpr double WEIGHT_ERROR = 0.0;
constexpr double WEIGHT_OVERWEIGHT = 555.5;

// The scale's own figures, not the exact ones: LB and LB:OZ differ on purpose.
constexpr double POUNDS_PER_KG = 2.204;
constexpr double OUNCES_PER_KG = 35.27;
constexpr double POUNDS_PER_OUNCE = 0.0625;
constexpr double OUNCES_PER_POUND = 16.0;

// "KG", "LB" or "LB:OZ"; these never come from a language file.
std::wstring_view UnitName(int unit);

// The Data cell of a weight v (kilograms) shown in unit u.
std::wstring FormatWeightText(double kilograms, int unit);

// The Data cell of a weight a scale gave as digits and unit ("1.500", "kg"):
// in its own unit the scale's digits, otherwise its exact kilograms
// converted with exact factors (1 lb = 0.45359237 kg, 16 oz to the pound).
std::wstring FormatScaleWeightText(const std::string& digits, const std::string& scaleUnit, double kilograms,
                                   int unit);

// The figure a KG or LB Data cell shows: 1234.5678 kg in KG is 1234.5.
double ShownWeight(double kilograms, int unit);

// Decimals a weight text shows (of the ounces for LB:OZ); 0 without a point.
int DecimalsShown(std::wstring_view weightText);
// The same for the Data cell of a weight, without making the whole text
// where the figure alone tells.
int DecimalsShown(double kilograms, int unit);

// A sum of weights in full (never cut to a cell's width), with the decimals
// given: "1199988.0", "2645.1" or, for LB:OZ, "2645:1.63".
std::wstring FormatWeightSum(double kilograms, int unit, int decimals);

// Decodes bytes 1 to 4 of a weight frame into kilograms. False when the
// frame's decimal code is not one the scale defines.
bool DecodeWeight(const uint8_t* frame, double& kilograms);

}  // namespace tarvex
