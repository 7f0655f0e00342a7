// Which live weights become rows: timed sequences as a scale polled five
// times a second gives them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "weighing/TakeRule.h"
#include "weighing/protocols/ScaleWeight.h"

namespace tarvex::test {
namespace {

// At ms, the scale said: 's' stable, 'm' in motion, 'z' stable at zero,
// 'o' over capacity, 'n' nothing; 'k' the clerk asked; 't' a tick between answers.
struct Step {
    int64_t ms;
    char what;
    const char* digits = "";
};

struct Case {
    const char* name;
    TakeMode mode;
    std::vector<Step> steps;
    std::vector<std::string> rows;  // "ms digits" of every row taken
    std::vector<std::string> told = {};  // "ms why" of every ask that found nothing
};

// Stable at the value from..to every 200 ms.
std::vector<Step> Stable(int64_t from, int64_t to, const char* digits, char what = 's') {
    std::vector<Step> steps;
    for (int64_t ms = from; ms <= to; ms += 200) steps.push_back({ms, what, digits});
    return steps;
}

std::vector<Step> Join(std::initializer_list<std::vector<Step>> parts) {
    std::vector<Step> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

void Play(const Case& c) {
    CTakeRule rule(c.mode, DEFAULT_SETTLE_MS);
    std::vector<std::string> rows, told;
    const auto took = [&](int64_t ms, const std::optional<LiveWeight>& weight) {
        if (weight) rows.push_back(std::to_string(ms) + " " + weight->digits);
    };
    for (const Step& step : c.steps) {
        if (const auto why = rule.AskExpired(step.ms))
            told.push_back(std::to_string(step.ms) + " " + std::to_string(static_cast<int>(*why)));
        if (step.what == 'k') {
            took(step.ms, rule.Ask(step.ms));
            continue;
        }
        if (step.what == 'n') {
            rule.NoWeight(step.ms);
            continue;
        }
        if (step.what == 't') {
            took(step.ms, rule.Tick(step.ms));
            continue;
        }
        LiveWeight weight;
        weight.digits = step.digits;
        weight.unit = "kg";
        weight.kilograms = KilogramsOf(weight.digits, "kg").value_or(0);
        weight.status.motion = step.what == 'm';
        weight.status.atZero = step.what == 'z';
        weight.status.over = step.what == 'o';
        took(step.ms, rule.Offer(weight, step.ms));
    }
    EXPECT_EQ(rows, c.rows) << c.name;
    EXPECT_EQ(told, c.told) << c.name;
}

TEST(TakeRule, TimedSequences) {
    const std::string inMotion = std::to_string(static_cast<int>(KeyOutcome::InMotion));
    const Case cases[] = {
        {"a parcel put on, left, taken off, another put on", TakeMode::Settle,
         Join({Stable(0, 400, "0.00", 'z'), {{600, 'm', "0.80"}}, Stable(800, 2000, "1.25"), {{2200, 'm', "0.40"}},
               Stable(2400, 2600, "0.00", 'z'), {{2800, 'm', "2.00"}}, Stable(3000, 3800, "2.50")}),
         {"1400 1.25", "3600 2.50"}},
        {"an empty scale", TakeMode::Settle, Stable(0, 5000, "0.00", 'z'), {}},
        {"a settled parcel is taken by the tick at its settle time, not at the next answer", TakeMode::Settle,
         Join({{{0, 'm', "1.00"}}, Stable(150, 550, "1.25"), {{600, 't'}, {650, 't'}, {700, 't'}}, Stable(750, 950, "1.25")}),
         {"650 1.25"}},
        {"a weight that wobbles by a division", TakeMode::Settle,
         Join({{{0, 'm', "1.00"}}, Stable(200, 200, "1.25"), Stable(400, 400, "1.26"), Stable(600, 600, "1.25"),
               Stable(800, 800, "1.26"), Stable(1000, 1000, "1.25"), Stable(1200, 1200, "1.26")}),
         {}},
        {"over capacity, stable", TakeMode::Settle, Join({{{0, 'm', "9.00"}}, Stable(200, 3000, "", 'o')}), {}},
        {"a parcel swapped for another in motion, never at zero", TakeMode::Settle,
         Join({{{0, 'm', "1.00"}}, Stable(200, 800, "1.25"), {{1000, 'm', "2.10"}}, Stable(1200, 1800, "2.30")}),
         {"800 1.25", "1800 2.30"}},
        {"a parcel already on the scale at the start, then silence", TakeMode::Settle,
         Join({Stable(0, 600, "3.00"), {{800, 'n'}, {1000, 'n'}}, Stable(1200, 2000, "3.00")}), {"600 3.00"}},
        {"the clerk asks: at once while stable, the next stable one while in motion", TakeMode::Key,
         Join({Stable(0, 1000, "1.25"), {{1100, 'k'}, {1200, 'm', "1.30"}, {1300, 'k'}, {1400, 'm', "1.40"}},
               Stable(1600, 2000, "1.50")}),
         {"1100 1.25", "1600 1.50"}},
        {"the clerk asks while it never settles", TakeMode::Key,
         Join({{{0, 'k'}}, Stable(200, 3400, "1.25", 'm')}), {}, {"3000 " + inMotion}},
        {"both: a key after the settled row asks again; a settled parcel after a key is not taken twice",
         TakeMode::Both,
         Join({{{0, 'm', "1.00"}}, Stable(200, 800, "1.25"), {{900, 'k'}}, {{1000, 'm', "1.00"}},
               Stable(1200, 1300, "2.00"), {{1350, 'k'}}, Stable(1400, 2400, "2.00")}),
         {"800 1.25", "900 1.25", "1350 2.00"}},
    };
    for (const Case& c : cases) Play(c);
}

TEST(ScaleWeight, ExactKilograms) {
    const struct {
        const char* digits;
        const char* unit;
        std::optional<double> kilograms;
    } cases[] = {
        {"7.85", "lb", 3.5607001045},      {"113.5", "oz", 3.2176708746875}, {"144", "g", 0.144},
        {"-0.005", "lb", -0.00226796185},  {"0.01", "oz", 0.00028349523125}, {"-0.50", "kg", -0.5},
        {"2", "t", 2000.0},                {"1500", "mg", 0.0015},           {"000.00", "kg", 0.0},
        {"1.0.0", "kg", std::nullopt},     {"", "kg", std::nullopt},         {"1", "st", std::nullopt},
        {"5", "ct", 0.001},                {"7000", "gr", 0.45359237},       {"20", "dwt", 0.0311034768},
        {"12", "ozt", 0.3732417216},       {"12", "tael", 0.45359237},       {"1", "ton", 907.18474},
        {"1", "KG", std::nullopt},         {"1234567890123456789", "g", std::nullopt},
    };
    for (const auto& c : cases) {
        const std::optional<double> kilograms = KilogramsOf(c.digits, c.unit);
        ASSERT_EQ(kilograms.has_value(), c.kilograms.has_value()) << c.digits << " " << c.unit;
        if (kilograms) {
            EXPECT_DOUBLE_EQ(*kilograms, *c.kilograms) << c.digits << " " << c.unit;
        }
    }
}

}  // namespace
}  // namespace tarvex::test
