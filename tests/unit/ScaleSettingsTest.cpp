// [Scale] in Setting.ini: what is taken, what is told and the defaults kept.

#include <gtest/gtest.h>

#include <map>

#include "weighing/ScaleSettings.h"

namespace tarvex::test {
namespace {

ScaleSettingsRead Read(const std::map<std::wstring, std::wstring>& keys) {
    return ReadScaleSettings([&](std::wstring_view key) {
        const auto found = keys.find(std::wstring(key));
        return found == keys.end() ? std::wstring() : found->second;
    });
}

TEST(ScaleSettings, TakenAsWritten) {
    const ScaleSettingsRead read = Read({{L"Protocol", L"nci"}, {L"Line", L"4800,8,N,2"}, {L"Unit", L"kg"},
                                        {L"Take", L"both"}, {L"Settle_Ms", L"800"}, {L"Poll_Ms", L"100"},
                                        {L"Weigh_Key", L"F9"}, {L"Poll", L"P\\r\\n"}, {L"Pattern", L"(?<weight>\\d+)"}});
    EXPECT_TRUE(read.problems.empty());
    const ScaleSettings& s = read.settings;
    EXPECT_EQ(s.protocol, ScaleProtocolKind::Nci);
    EXPECT_EQ(LineFor(s), (LineSettings{4800, 8, 'N', 2}));
    EXPECT_EQ(s.unit, "kg");
    EXPECT_EQ(s.take, TakeMode::Both);
    EXPECT_EQ(s.settleMs, 800);
    EXPECT_EQ(s.pollMs, 100);
    EXPECT_EQ(s.weighKey, L"F9");
    EXPECT_EQ(s.ascii.poll, "P\r\n");
    EXPECT_EQ(s.ascii.pattern, "(?<weight>\\d+)");
}

TEST(ScaleSettings, ValuesThatCannotBeUsedAreToldAndTheDefaultsKept) {
    const ScaleSettingsRead read =
        Read({{L"Protocol", L"Toledo"}, {L"Line", L"9600,9,E,1"}, {L"Unit", L"oz"}, {L"Take", L"auto"},
              {L"Settle_Ms", L"-1"}, {L"Poll_Ms", L"10"}, {L"Zero", L"\\q"}, {L"Pattern", L"(?<weight>"}});
    const ScaleSettings defaults;
    EXPECT_EQ(read.settings.protocol, defaults.protocol);
    EXPECT_EQ(read.settings.line, std::nullopt);
    EXPECT_EQ(read.settings.take, defaults.take);
    EXPECT_EQ(read.settings.settleMs, defaults.settleMs);
    EXPECT_EQ(read.settings.pollMs, defaults.pollMs);
    EXPECT_EQ(read.settings.ascii.pattern, defaults.ascii.pattern);
    std::vector<std::wstring> told;
    for (const ScaleSettingProblem& problem : read.problems) told.push_back(problem.key + L"=" + problem.value);
    EXPECT_EQ(told, (std::vector<std::wstring>{L"Protocol=Toledo", L"Line=9600,9,E,1", L"Unit=oz", L"Take=auto",
                                               L"Settle_Ms=-1", L"Poll_Ms=10", L"Zero=\\q", L"Pattern=(?<weight>"}));
    EXPECT_NE(read.problems.back().why.find(L"missing closing parenthesis"), std::wstring::npos);
}

TEST(ScaleSettings, EachProtocolBringsItsLine) {
    const struct {
        const wchar_t* protocol;
        LineSettings line;
        bool translator;
    } cases[] = {
        {L"frames", {9600, 8, 'N', 1}, false}, {L"mt-sics", {9600, 8, 'N', 1}, true},
        {L"toledo", {9600, 7, 'E', 1}, true},  {L"nci", {9600, 7, 'E', 1}, true},
        {L"ascii", {9600, 8, 'N', 1}, true},
    };
    for (const auto& c : cases) {
        const ScaleSettings settings = Read({{L"Protocol", c.protocol}}).settings;
        EXPECT_EQ(LineFor(settings), c.line) << c.protocol;
        EXPECT_EQ(MakeScaleProtocol(settings) != nullptr, c.translator) << c.protocol;
    }
}

}  // namespace
}  // namespace tarvex::test
