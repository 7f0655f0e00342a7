#include <gtest/gtest.h>

#include <random>
#include <string>

#include "weighing/WeightText.h"
#include "weighing/protocols/ScaleWeight.h"

namespace tarvex {
namespace {

struct TextCase {
    double kilograms;
    const wchar_t* kg;
    const wchar_t* lb;
    const wchar_t* lboz;
};

class WeightTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(WeightTextTest, EveryUnitToTheCharacter) {
    const TextCase& c = GetParam();
    EXPECT_EQ(FormatWeightText(c.kilograms, UNIT_KG), c.kg);
    EXPECT_EQ(FormatWeightText(c.kilograms, UNIT_LB), c.lb);
    EXPECT_EQ(FormatWeightText(c.kilograms, UNIT_LBOZ), c.lboz);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedValues, WeightTextTest,
    ::testing::Values(TextCase{1.234, L"1.2340", L"2.7197", L"  2:11.5"},
                      TextCase{-1.234, L"-1.2340", L"-2.7197", L"-  2:11.5"},
                      TextCase{0.5, L"0.5000", L"1.1020", L"  1:1.63"},
                      TextCase{100, L"100.00", L"220.40", L"220:7.00"},
                      // the two pound figures disagree on purpose
                      TextCase{1234.5, L"1234.5", L"2720.8", L"2721:4.81"},
                      // five digits before the point leave a trailing point
                      TextCase{12345.6, L"12345.", L"27209.", L"27214:5.31"},
                      TextCase{0.0, L"0.0000", L"0.0000", L"  0:0.00"},
                      TextCase{99.999, L"99.999", L"220.39", L"220:6.96"}));

TEST(UnitName, FixedTexts) {
    EXPECT_EQ(UnitName(UNIT_KG), L"KG");
    EXPECT_EQ(UnitName(UNIT_LB), L"LB");
    EXPECT_EQ(UnitName(UNIT_LBOZ), L"LB:OZ");
}

struct DecodeCase {
    uint8_t status, b2, b3, b4;
    bool valid;
    double kilograms;
};

class DecodeWeightTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeWeightTest, MagnitudeFactorAndSign) {
    const DecodeCase& c = GetParam();
    const uint8_t frame[6] = {0x5F, c.status, c.b2, c.b3, c.b4, 0};
    double kg = -777;
    EXPECT_EQ(DecodeWeight(frame, kg), c.valid);
    if (c.valid) { EXPECT_DOUBLE_EQ(kg, c.kilograms); }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DecodeWeightTest,
    ::testing::Values(
        DecodeCase{0x02, 0x00, 0x30, 0x39, true, 1234.5},     // 12345 tenths
        DecodeCase{0x44, 0x01, 0xE2, 0x40, true, -123.45},    // 123456 folds to 12345
        DecodeCase{0x08, 0x00, 0x04, 0xD2, true, 1.234},
        DecodeCase{0x48, 0x00, 0x04, 0xD2, true, -1.234},
        DecodeCase{0x42, 0x00, 0x04, 0xD2, true, -123.4},     // 0x4_ is negative
        DecodeCase{0x32, 0x00, 0x04, 0xD2, true, 123.4},      // any other high nibble is not
        DecodeCase{0x52, 0x00, 0x04, 0xD2, true, 123.4},
        DecodeCase{0x08, 0x0F, 0x42, 0x3F, true, 99.999},     // 999999 / 10
        DecodeCase{0x08, 0x0F, 0x42, 0x40, true, 10.0},       // 1000000 / 100 only
        DecodeCase{0x02, 0xFF, 0xFF, 0xFF, true, 16777.2},    // all 24 bits: / 100
        DecodeCase{0x02, 0x00, 0x15, 0xB3, true, 555.5},      // a real 555.5 kg
        DecodeCase{0x03, 0x00, 0x30, 0x39, false, 0},
        DecodeCase{0x00, 0x00, 0x30, 0x39, false, 0},
        DecodeCase{0x4F, 0x00, 0x30, 0x39, false, 0}));

TEST(DecodeWeight, LargestFrameTextsEndInAPoint) {
    const uint8_t frame[6] = {0x5F, 0x02, 0xFF, 0xFF, 0xFF, 0};
    double kg = 0;
    ASSERT_TRUE(DecodeWeight(frame, kg));
    EXPECT_EQ(FormatWeightText(kg, UNIT_KG), L"16777.");
    EXPECT_EQ(FormatWeightText(kg, UNIT_LB), L"36976.");
}

TEST(WeightSum, ShownInFullWithTheDecimalsGiven) {
    struct Case {
        double kg;
        int unit, decimals;
        const wchar_t* text;
    };
    for (const Case& c : {Case{1199988.0, UNIT_KG, 1, L"1199988.0"}, Case{20147.3, UNIT_KG, 1, L"20147.3"},
                          Case{1430648.7, UNIT_KG, 1, L"1430648.7"}, Case{2.468, UNIT_KG, 4, L"2.4680"},
                          Case{100.0, UNIT_LB, 2, L"220.40"}, Case{100.0, UNIT_LBOZ, 2, L"220:7.00"},
                          Case{-1.234, UNIT_KG, 3, L"-1.234"}, Case{0.0, UNIT_KG, 4, L"0.0000"}})
        EXPECT_EQ(FormatWeightSum(c.kg, c.unit, c.decimals), c.text) << c.kg << " " << c.unit;
    for (const auto& [text, decimals] : std::vector<std::pair<const wchar_t*, int>>{
             {L"1.2340", 4}, {L"9999.9", 1}, {L"16777.", 0}, {L"  2:11.5", 1}, {L"  1:1.63", 2}, {L"12345", 0}})
        EXPECT_EQ(DecimalsShown(text), decimals) << text;
}

// The figures the sum and the workbook use without making the text must be
// the text's own, for every weight the scale can send and around the
// boundaries where a digit moves.
TEST(WeightFigures, AgreeWithTheCellText) {
    std::vector<double> weights{0.0, 9.9999, 9.99995, 99.9995, 9999.95, 99999.5, 99999.95, 12345.67, 123456.7};
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> grams(-16777215, 16777215);
    for (int i = 0; i < 20000; ++i) weights.push_back(grams(random) / 1000.0);
    for (int i = 0; i < 2000; ++i) weights.push_back(grams(random) / 10.0);
    for (double kg : weights) {
        for (int unit : {UNIT_KG, UNIT_LB, UNIT_LBOZ}) {
            const std::wstring text = FormatWeightText(kg, unit);
            ASSERT_EQ(DecimalsShown(kg, unit), DecimalsShown(text)) << kg << " " << unit;
            if (unit == UNIT_LBOZ) continue;
            std::string digits(text.begin(), text.end());
            ASSERT_EQ(ShownWeight(kg, unit), std::stod(digits)) << kg << " " << unit;
        }
    }
}

TEST(ScaleWeightText, TheScalesDigitsInItsUnitExactConversionOtherwise) {
    const struct {
        const char* digits;
        const char* unit;
        int shownIn;
        const wchar_t* cell;
    } cases[] = {
        {"1.500", "kg", UNIT_KG, L"1.500"},     // the scale's own digits, its zero kept
        {"-0.25", "kg", UNIT_KG, L"-0.25"},
        {"7.85", "lb", UNIT_LB, L"7.85"},
        {"665.3", "g", UNIT_KG, L"0.6653"},     // grams show as kilograms, every digit kept
        {"144", "g", UNIT_KG, L"0.144"},
        {"7.85", "lb", UNIT_KG, L"3.561"},      // 3.56070010... kg
        {"1.000", "kg", UNIT_LB, L"2.205"},     // 2.20462262 lb: the exact factor, not the frames' 2.204
        {"10", "kg", UNIT_LB, L"22.05"},
        {"7.85", "lb", UNIT_LBOZ, L"  7:13.6"}, // 7 lb 13.6 oz
        {"113.5", "oz", UNIT_LBOZ, L"  7:1.5"},
        {"15.97", "oz", UNIT_LBOZ, L"  0:15.97"},
        {"1.000", "kg", UNIT_LBOZ, L"  2:3.3"}, // 35.27396 oz
        {"0.9999", "lb", UNIT_LBOZ, L"  1:0.0"}, // 15.9984 oz rounds up to a whole pound
        {"-2.5", "lb", UNIT_LBOZ, L"-  2:8.0"},
    };
    for (const auto& c : cases) {
        const double kilograms = *KilogramsOf(c.digits, c.unit);
        EXPECT_EQ(FormatScaleWeightText(c.digits, c.unit, kilograms, c.shownIn), c.cell)
            << c.digits << " " << c.unit << " in " << c.shownIn;
    }
}

}  // namespace
}  // namespace tarvex
