#include "weighing/protocols/ScaleWeight.h"

#include <array>
#include <cstdint>

namespace tarvex {
namespace {

// Kilograms per unit as a fraction, so the only rounding is the last one.
struct Factor {
    std::string_view unit;
    int64_t numerator;
    int64_t denominator;
};
// The grain is 1/7000 lb; the pennyweight 24 grains, the troy ounce 480;
// the carat 200 mg; the tael (of Hong Kong's catty, 1 1/3 lb) 1/12 lb;
// the short (avoirdupois) ton 2000 lb, the metric ton 1000 kg.
constexpr std::array<Factor, 12> FACTORS{{
    {"kg", 1, 1},
    {"g", 1, 1000},
    {"mg", 1, 1000000},
    {"t", 1000, 1},
    {"lb", 45359237, 100000000},
    {"oz", 45359237, 1600000000},
    {"ct", 1, 5000},
    {"gr", 45359237, 700000000000},
    {"dwt", int64_t{45359237} * 24, 700000000000},
    {"ozt", int64_t{45359237} * 480, 700000000000},
    {"tael", 45359237, 1200000000},
    {"ton", int64_t{45359237} * 2000, 100000000},
}};

// Wide enough for the digits times a numerator (GCC's, on both systems).
__extension__ using Wide = __int128;

// Digits as "-12.345" hold at most 18 figures.
constexpr int MAX_FIGURES = 18;

}  // namespace

std::optional<double> KilogramsOf(std::string_view digits, std::string_view unit) {
    const Factor* factor = nullptr;
    for (const Factor& known : FACTORS)
        if (known.unit == unit) factor = &known;
    if (factor == nullptr) return std::nullopt;
    bool negative = false;
    if (!digits.empty() && digits.front() == '-') {
        negative = true;
        digits.remove_prefix(1);
    }
    int64_t mantissa = 0;
    int64_t scale = 1;
    int figures = 0;
    bool point = false;
    for (const char c : digits) {
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9' || ++figures > MAX_FIGURES) return std::nullopt;
        mantissa = mantissa * 10 + (c - '0');
        if (point) scale *= 10;
    }
    if (figures == 0) return std::nullopt;
    // mantissa * numerator fits in 128 bits; one division rounds it.
    const Wide top = static_cast<Wide>(mantissa) * factor->numerator;
    const Wide bottom = static_cast<Wide>(scale) * factor->denominator;
    const Wide whole = top / bottom;
    const long double kilograms =
        static_cast<long double>(whole) + static_cast<long double>(top % bottom) / static_cast<long double>(bottom);
    return static_cast<double>(negative ? -kilograms : kilograms);
}

}  // namespace tarvex
