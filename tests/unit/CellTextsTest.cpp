#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "weighing/CellTexts.h"

namespace tarvex {
namespace {

struct DurationCase {
    int64_t seconds;
    const wchar_t* text;
};

class DurationTest : public ::testing::TestWithParam<DurationCase> {};

TEST_P(DurationTest, TimeSpanRule) {
    EXPECT_EQ(FormatDuration(GetParam().seconds), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Spans, DurationTest,
                         ::testing::Values(DurationCase{0, L"00:00:00"},
                                           DurationCase{59, L"00:00:59"},
                                           DurationCase{3661, L"01:01:01"},
                                           DurationCase{86399, L"23:59:59"},
                                           DurationCase{86400, L"00:00:00"},  // days dropped
                                           DurationCase{90061, L"01:01:01"},
                                           DurationCase{-3725, L"-1:-2:-5"},
                                           DurationCase{-59, L"00:00:-59"}));

TEST_P(DurationTest, ReadBackGivesTheSameText) {
    int64_t seconds = 0;
    ASSERT_TRUE(ParseDuration(GetParam().text, seconds)) << GetParam().text;
    EXPECT_EQ(FormatDuration(seconds), GetParam().text);
}

TEST(Duration, TextsItNeverMakesAreRefused) {
    int64_t seconds = 0;
    for (const wchar_t* text : {L"", L"01:01", L"01:01:01:01", L"aa:bb:cc", L"01:01:01 ", L"1:1:1", L"--1:00:00",
                                L"01:-:00", L"99:00:00"})
        EXPECT_FALSE(ParseDuration(text, seconds)) << text;
}

TEST(RowNumber, RightAlignedInEightPlaces) {
    EXPECT_EQ(FormatRowNumber(0), L"       1");
    EXPECT_EQ(FormatRowNumber(64999), L"   65000");
    EXPECT_EQ(FormatRowNumber(99999999), L"100000000");
}

// Sets or (for nullptr) removes the time zone variable and applies it.
void SetZone(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone ? zone : "");
    _tzset();
#else
    if (zone) setenv("TZ", zone, 1); else unsetenv("TZ");
    tzset();
#endif
}

TEST(UpdateTime, LocalTimePattern) {
    // Pin the zone so the expected text does not depend on the machine.
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    SetZone("UTC");
    EXPECT_EQ(FormatUpdateTime(1796565787), L"14:03:07 12/06/2026");
    SetZone(old ? saved.c_str() : nullptr);
}

}  // namespace
}  // namespace tarvex
