// Decoding narrow text: every invalid byte gives one U+FFFD and decoding
// goes on, so no byte after a damaged sequence is ever lost.

#include <gtest/gtest.h>

#include "text/TextCodec.h"

namespace tarvex {
namespace {

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::wstring text;
};

class Utf8DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8DecodeTest, DecodesAsExpected) {
    EXPECT_EQ(WideFromUtf8(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8DecodeTest,
    ::testing::Values(
        DecodeCase{"Plain", "Caf\xC3\xA9s", L"Caf\u00E9s"},
        DecodeCase{"CutFourByteLeadBeforeNewline", "\xF7\x0A", L"\uFFFD\n"},
        DecodeCase{"LoneLatin1ByteInsideAWord", "Caf\xE9s", L"Caf\uFFFDs"},
        DecodeCase{"CutThreeByteSequenceAtTheEnd", "ab\xE4\xB8", L"ab\uFFFD\uFFFD"},
        DecodeCase{"CutSequenceFollowedByAscii", "\xE4\xB8" "A", L"\uFFFD\uFFFDA"},
        DecodeCase{"LeadByteAtTheVeryEnd", "x\xF0", L"x\uFFFD"},
        DecodeCase{"StrayContinuationBytes", "\x80\xBFok", L"\uFFFD\uFFFDok"},
        DecodeCase{"OverlongSlash", "\xC0\xAF/", L"\uFFFD\uFFFD/"},
        DecodeCase{"EncodedSurrogate", "\xED\xA0\x80z", L"\uFFFD\uFFFD\uFFFDz"},
        DecodeCase{"Chinese", "\xE7\xAE\x80\xE4\xBD\x93", L"\u7B80\u4F53"}),
    [](const ::testing::TestParamInfo<DecodeCase>& c) { return std::string(c.param.name); });

TEST(Utf8Decode, EveryAsciiByteSurvivesWhateverSurroundsIt) {
    // Each ASCII byte placed after each possible lead or stray byte.
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int ascii = 0x01; ascii < 0x80; ascii += 7) {
            const std::string bytes{static_cast<char>(lead), static_cast<char>(ascii)};
            const std::wstring text = WideFromUtf8(bytes);
            ASSERT_FALSE(text.empty());
            EXPECT_EQ(text.back(), static_cast<wchar_t>(ascii)) << std::hex << lead << " " << ascii;
        }
    }
}

}  // namespace
}  // namespace tarvex
