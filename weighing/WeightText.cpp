#include "weighing/WeightText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace tarvex {
namespace {

// printf's "%f" text of v, to_chars with six decimals gives the same digits
// and is several times faster on the unit switch of a full table.
size_t FormatFixed6(double v, char* buf, size_t size) {
    const auto res = std::to_chars(buf, buf + size, v, std::chars_format::fixed, 6);
    return static_cast<size_t>(res.ptr - buf);
}

void AppendAscii(std::wstring& out, const char* text, size_t count) {
    for (size_t i = 0; i < count; ++i) out.push_back(static_cast<wchar_t>(text[i]));
}

}  // namespace

std::wstring_view UnitName(int unit) {
    switch (unit) {
        case UNIT_LB: return L"LB";
        case UNIT_LBOZ: return L"LB:OZ";
        default: return L"KG";
    }
}

std::wstring FormatWeightText(double kilograms, int unit) {
    const bool negative = kilograms < 0;
    const double m = std::fabs(kilograms);
    std::wstring out;
    out.reserve(16);
    if (negative) out.push_back(L'-');
    char buf[400];  // room for "%f" of the largest double
    if (unit == UNIT_LBOZ) {
        const double total = m * OUNCES_PER_KG * POUNDS_PER_OUNCE;
        const int pounds = static_cast<int>(total);
        const double ounces = (total - pounds) * OUNCES_PER_POUND;
        char head[32];
        const int headLen = std::snprintf(head, sizeof head, "%3d:", pounds);
        AppendAscii(out, head, static_cast<size_t>(headLen));
        const size_t len = FormatFixed6(ounces, buf, sizeof buf);
        AppendAscii(out, buf, len < 4 ? len : 4);
        return out;
    }
    const double shown = unit == UNIT_LB ? m * POUNDS_PER_KG : m;
    const size_t len = FormatFixed6(shown, buf, sizeof buf);
    AppendAscii(out, buf, len < 6 ? len : 6);
    return out;
}

namespace {

// Decimals written in digits such as "-12.50".
int DigitDecimals(const std::string& digits) {
    const size_t point = digits.find('.');
    return point == std::string::npos ? 0 : static_cast<int>(digits.size() - point - 1);
}

// Decimals a weight in kilograms needs to keep what the scale's digits said.
int KilogramDecimals(const std::string& digits, const std::string& scaleUnit) {
    const int given = DigitDecimals(digits);
    if (scaleUnit == "g") return given + 3;
    if (scaleUnit == "mg") return given + 6;
    return std::max(3, given);
}

constexpr double EXACT_KG_PER_POUND = 0.45359237;

}  // namespace

std::wstring FormatScaleWeightText(const std::string& digits, const std::string& scaleUnit, double kilograms,
                                   int unit) {
    if ((unit == UNIT_KG && scaleUnit == "kg") || (unit == UNIT_LB && scaleUnit == "lb"))
        return std::wstring(digits.begin(), digits.end());
    char buf[400];
    int len;
    if (unit == UNIT_KG) {
        len = std::snprintf(buf, sizeof buf, "%.*f", KilogramDecimals(digits, scaleUnit), kilograms);
    } else if (unit == UNIT_LB) {
        len = std::snprintf(buf, sizeof buf, "%.*f", std::max(2, DigitDecimals(digits)), kilograms / EXACT_KG_PER_POUND);
    } else {
        // Rounded to the tenth of an ounce first, so 15.96 oz never shows as "0:16.0".
        const int decimals = scaleUnit == "oz" ? std::max(1, DigitDecimals(digits)) : 1;
        const double step = std::pow(10.0, decimals);
        const double ounces = std::round(std::fabs(kilograms) / EXACT_KG_PER_POUND * OUNCES_PER_POUND * step) / step;
        const double pounds = std::floor(ounces / OUNCES_PER_POUND);
        len = std::snprintf(buf, sizeof buf, "%s%3.0f:%.*f", kilograms < 0 ? "-" : "", pounds, decimals,
                            ounces - pounds * OUNCES_PER_POUND);
    }
    std::wstring out;
    AppendAscii(out, buf, static_cast<size_t>(len < 0 ? 0 : len));
    return out;
}

double ShownWeight(double kilograms, int unit) {
    // The cell's own six characters, read back: the same cut as the text.
    const double m = std::fabs(kilograms);
    char buf[400];
    size_t len = FormatFixed6(unit == UNIT_LB ? m * POUNDS_PER_KG : m, buf, sizeof buf);
    if (len > 6) len = 6;
    if (len > 0 && buf[len - 1] == '.') --len;
    double shown = 0;
    std::from_chars(buf, buf + len, shown);
    return kilograms < 0 ? -shown : shown;
}

int DecimalsShown(std::wstring_view weightText) {
    const size_t point = weightText.rfind(L'.');
    if (point == std::wstring_view::npos) return 0;
    int decimals = 0;
    for (size_t i = point + 1; i < weightText.size() && weightText[i] >= L'0' && weightText[i] <= L'9'; ++i)
        ++decimals;
    return decimals;
}

int DecimalsShown(double kilograms, int unit) {
    if (unit == UNIT_LBOZ) {
        // The same steps as the text: below 9.99 ounces it reads "d.dd".
        const double total = std::fabs(kilograms) * OUNCES_PER_KG * POUNDS_PER_OUNCE;
        const double ounces = (total - static_cast<int>(total)) * OUNCES_PER_POUND;
        if (ounces < 9.99) return 2;
    }
    return DecimalsShown(FormatWeightText(kilograms, unit));
}

std::wstring FormatWeightSum(double kilograms, int unit, int decimals) {
    const double m = std::fabs(kilograms);
    char buf[400];
    int len;
    if (unit == UNIT_LBOZ) {
        const double total = m * OUNCES_PER_KG * POUNDS_PER_OUNCE;
        const double pounds = std::floor(total);
        len = std::snprintf(buf, sizeof buf, "%.0f:%.*f", pounds, decimals, (total - pounds) * OUNCES_PER_POUND);
    } else {
        len = std::snprintf(buf, sizeof buf, "%.*f", decimals, unit == UNIT_LB ? m * POUNDS_PER_KG : m);
    }
    std::wstring out;
    if (kilograms < 0) out.push_back(L'-');
    AppendAscii(out, buf, static_cast<size_t>(len < 0 ? 0 : len));
    return out;
}

bool DecodeWeight(const uint8_t* frame, double& kilograms) {
    uint32_t raw = (uint32_t{frame[2]} << 16) | (uint32_t{frame[3]} << 8) | frame[4];
    // The scale sends more digits than its display shows; fold them away.
    if (raw > 999999) raw /= 100;
    else if (raw >= 100000) raw /= 10;
    double value;
    switch (frame[1] & 0x0F) {
        case 2: value = raw * 0.1; break;
        case 4: value = raw * 0.01; break;
        case 8: value = raw * 0.001; break;
        default: return false;
    }
    if ((frame[1] & 0xF0) == 0x40) value = 0 - value;
    kilograms = value;
    return true;
}

}  // namespace tarvex
