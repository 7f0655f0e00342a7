#include <gtest/gtest.h>

#include "text/ProfileFile.h"
#include "tests/support/TempDir.h"
#include "text/TextCodec.h"

namespace tarvex {
namespace {

using test::TempDir;

std::wstring W(const std::filesystem::path& p) { return WideFromPath(p); }

const char* const kLanguage =
    "; a comment line\r\n"
    "[Language_Configuration]\r\n"
    "Language_Name = English \r\n"
    "\r\n"
    "[Dialog_Caption]\r\n"
    "Dialog_Caption=Tarvex Scale\r\n"
    "  Serial_Caption_Open  =\tOpen  \r\n"
    "Empty=\r\n"
    "Quoted=\"  spaced  \"\r\n"
    "[Message]\r\n"
    "Warning=Warning\r\n";

struct ReadCase {
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* expected;
};

class ProfileReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileReadTest, FindsValueByRules) {
    TempDir dir;
    const auto file = dir.Write("English.ini", kLanguage);
    const ReadCase& c = GetParam();
    EXPECT_EQ(ReadProfileText(W(file), c.section, c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileReadTest,
    ::testing::Values(ReadCase{L"Dialog_Caption", L"Dialog_Caption", L"Tarvex Scale"},
                      ReadCase{L"dialog_caption", L"DIALOG_CAPTION", L"Tarvex Scale"},
                      ReadCase{L"Dialog_Caption", L"Serial_Caption_Open", L"Open"},
                      ReadCase{L"Language_Configuration", L"language_name", L"English"},
                      ReadCase{L"Dialog_Caption", L"Empty", L""},
                      ReadCase{L"Dialog_Caption", L"Quoted", L"  spaced  "},
                      ReadCase{L"Dialog_Caption", L"Missing", L""},
                      ReadCase{L"Missing_Section", L"Warning", L""},
                      // a key of another section is not found in this one
                      ReadCase{L"Message", L"Dialog_Caption", L""},
                      ReadCase{L"Message", L"Warning", L"Warning"}));

TEST(ProfileRead, MissingFileGivesEmptyText) {
    TempDir dir;
    EXPECT_EQ(ReadProfileText(W(dir.Path() / "absent.ini"), L"Message", L"Warning"), L"");
    // A folder is no file either.
    EXPECT_EQ(ReadProfileText(W(dir.Path()), L"Message", L"Warning"), L"");
}

TEST(ProfileRead, ReadsAtMost499Characters) {
    TempDir dir;
    const std::string longValue(600, 'x');
    const auto file = dir.Write("long.ini", "[S]\nK=" + longValue + "\nExact=" +
                                                std::string(499, 'y') + "\n");
    EXPECT_EQ(ReadProfileText(W(file), L"S", L"K"), std::wstring(499, L'x'));
    EXPECT_EQ(ReadProfileText(W(file), L"S", L"Exact"), std::wstring(499, L'y'));
}

TEST(ProfileRead, DecodesEveryEncoding) {
    TempDir dir;
    const std::wstring chinese = L"\u7b80\u4f53\u4e2d\u6587";  // 简体中文
    const std::wstring text = L"[Language_Configuration]\r\nLanguage_Name=" + chinese + L"\r\n";
    const auto utf16 = dir.Write("u16.ini", "\xFF\xFE" + Utf16LeFromWide(text));
    const auto utf8bom = dir.Write("u8bom.ini", "\xEF\xBB\xBF" + Utf8FromWide(text));
    const auto narrow = dir.Write("narrow.ini", Utf8FromWide(text));
    for (const auto& f : {utf16, utf8bom, narrow})
        EXPECT_EQ(ReadProfileText(W(f), L"Language_Configuration", L"Language_Name"), chinese)
            << f;
}

TEST(ProfileRead, Utf16KeepsCharactersOutsideTheBasicPlane) {
    TempDir dir;
    const std::wstring text = L"[S]\nK=a\U0001F600b\n";
    const auto file = dir.Write("emoji.ini", "\xFF\xFE" + Utf16LeFromWide(text));
    EXPECT_EQ(ReadProfileText(W(file), L"S", L"K"), L"a\U0001F600b");
}

TEST(ProfileRead, FirstSectionOfANameWins) {
    TempDir dir;
    const auto file = dir.Write("dup.ini", "[S]\nK=first\n[s]\nK=second\nOther=x\n");
    EXPECT_EQ(ReadProfileText(W(file), L"S", L"K"), L"first");
}

TEST(ProfileRead, AFileOverOneMebibyteHasNoKeys) {
    TempDir dir;
    std::string text = "[Message]\nWarning=Scale\n";
    const auto small = dir.Write("small.ini", text);
    text += "; " + std::string(PROFILE_MAX_FILE_SIZE, 'x') + "\n";
    const auto huge = dir.Write("huge.ini", text);
    EXPECT_EQ(ReadProfileText(W(small), L"Message", L"Warning"), L"Scale");
    EXPECT_EQ(ReadProfileText(W(huge), L"Message", L"Warning"), L"");
    EXPECT_FALSE(ProfileHasKey(W(huge), L"Message", L"Warning"));
}

TEST(ProfileRead, AChangedFileIsReadAgain) {
    TempDir dir;
    const auto file = dir.Write("lang.ini", "[S]\nK=one\n");
    EXPECT_EQ(ReadProfileText(W(file), L"S", L"K"), L"one");
    dir.Write("lang.ini", "[S]\nK=three\n");  // changed by another program
    EXPECT_EQ(ReadProfileText(W(file), L"S", L"K"), L"three");
    ASSERT_TRUE(WriteProfileText(W(file), L"S", L"K", L"two!!"));  // same size again
    EXPECT_EQ(ReadProfileText(W(file), L"S", L"K"), L"two!!");
    std::filesystem::remove(file);
    EXPECT_EQ(ReadProfileText(W(file), L"S", L"K"), L"");
}

TEST(ProfileWrite, ReplacesValueInPlaceAndKeepsEveryOtherLine) {
    TempDir dir;
    const auto file = dir.Write("Setting.ini",
                                "; keep me\r\n[Language_Configuration]\r\n"
                                "Language_FileName = \\Old.ini\r\nLanguage_Name=Old\r\n"
                                "[Other]\r\nX=1\r\n");
    ASSERT_TRUE(WriteProfileText(W(file), L"language_configuration", L"LANGUAGE_FILENAME",
                                 L"\\English.ini"));
    EXPECT_EQ(TempDir::Read(file),
              "; keep me\r\n[Language_Configuration]\r\n"
              "Language_FileName = \\English.ini\r\nLanguage_Name=Old\r\n"
              "[Other]\r\nX=1\r\n");
}

TEST(ProfileWrite, AddsKeyToItsSectionAndSectionToTheEnd) {
    TempDir dir;
    const auto file = dir.Write("Setting.ini", "[A]\nX=1\n\n[B]\nY=2\n");
    ASSERT_TRUE(WriteProfileText(W(file), L"A", L"Z", L"3"));
    ASSERT_TRUE(WriteProfileText(W(file), L"C", L"K", L"v"));
    EXPECT_EQ(TempDir::Read(file), "[A]\nX=1\nZ=3\n\n[B]\nY=2\n[C]\nK=v\n");
    EXPECT_EQ(ReadProfileText(W(file), L"A", L"Z"), L"3");
}

TEST(ProfileWrite, CreatesMissingFile) {
    TempDir dir;
    const auto file = dir.Path() / "Setting.ini";
    ASSERT_TRUE(WriteProfileText(W(file), L"Language_Configuration", L"Language_Name", L"English"));
    EXPECT_EQ(TempDir::Read(file), "[Language_Configuration]\r\nLanguage_Name=English\r\n");
}

#ifndef _WIN32
TEST(ProfileWrite, ANewFileIsTheUsersAloneAnOldOneKeepsItsMode) {
    TempDir dir;
    const auto made = dir.Path() / "made" / "Setting.ini";
    std::filesystem::create_directories(made.parent_path());
    const auto kept = dir.Path() / "Setting.ini";
    dir.Write("Setting.ini", "[Feed]\r\n");
    std::filesystem::permissions(kept, std::filesystem::perms(0640));
    for (const auto& [file, mode] : {std::pair{made, 0600}, std::pair{kept, 0640}}) {
        ASSERT_TRUE(WriteProfileText(W(file), L"Feed", L"Token", L"a-token-of-twenty-chars"));
        EXPECT_EQ(static_cast<int>(std::filesystem::status(file).permissions()), mode) << file;
    }
}
#endif

TEST(ProfileWrite, AValueInQuotesReadsBackWithThem) {
    // A read takes one pair of enclosing quotes off, as the platform's does.
    for (const std::wstring value : {L"\"Packing desk\"", L"\"\"", L"\"a\" and \"b\""}) {
        const std::string file = WithProfileText("", L"Feed", L"Desk", value);
        EXPECT_EQ(CProfileText(file).Find(L"Feed", L"Desk"), value) << file;
        EXPECT_EQ(CProfileText(WithProfileText(file, L"Feed", L"Desk", value)).Find(L"Feed", L"Desk"), value);
    }
}

TEST(ProfileWrite, KeepsTheFileEncoding) {
    TempDir dir;
    const std::wstring chinese = L"\u7b80\u4f53\u4e2d\u6587";
    const auto utf16 = dir.Write("u16.ini", "\xFF\xFE" + Utf16LeFromWide(L"[S]\r\nK=old\r\n"));
    const auto utf8bom = dir.Write("u8bom.ini", "\xEF\xBB\xBF[S]\nK=old\n");
    ASSERT_TRUE(WriteProfileText(W(utf16), L"S", L"K", chinese));
    ASSERT_TRUE(WriteProfileText(W(utf8bom), L"S", L"K", chinese));
    EXPECT_EQ(TempDir::Read(utf16), "\xFF\xFE" + Utf16LeFromWide(L"[S]\r\nK=" + chinese + L"\r\n"));
    EXPECT_EQ(TempDir::Read(utf8bom), "\xEF\xBB\xBF[S]\nK=" + Utf8FromWide(chinese) + "\n");
    EXPECT_EQ(ReadProfileText(W(utf16), L"S", L"K"), chinese);
}

TEST(ProfileWrite, EveryOtherLineKeepsItsOwnLineEnd) {
    TempDir dir;
    struct Case {
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        // A stray CR before a later line's CRLF in a LF file.
        {"[S]\nK=old\nOther=v\r\r\n", "[S]\nK=new\nOther=v\r\r\n"},
        // Mixed ends, and a last line with none.
        {"[S]\r\nK=old\nA=1\r\nB=2", "[S]\r\nK=new\nA=1\r\nB=2"},
        // A key added after a last line without an end.
        {"[S]\nA=1", "[S]\nA=1\nK=new\n"},
        // ... whose value ends with a lone CR: it stays the value's.
        {"[S]\nOther=\r", "[S]\nOther=\r\r\nK=new\n"},
    };
    for (const Case& c : cases) {
        const auto file = dir.Write("ends.ini", c.before);
        const std::wstring otherBefore = ReadProfileText(W(file), L"S", L"Other");
        ASSERT_TRUE(WriteProfileText(W(file), L"S", L"K", L"new"));
        EXPECT_EQ(TempDir::Read(file), c.after);
        EXPECT_EQ(ReadProfileText(W(file), L"S", L"Other"), otherBefore);
    }
}

TEST(ProfileWrite, UnwritablePlaceFailsAndLeavesNothing) {
    TempDir dir;
    const auto notAFolder = dir.Write("plain-file", "x");
    EXPECT_FALSE(WriteProfileText(W(notAFolder / "Setting.ini"), L"S", L"K", L"v"));
    EXPECT_EQ(TempDir::Read(notAFolder), "x");
}

}  // namespace
}  // namespace tarvex
