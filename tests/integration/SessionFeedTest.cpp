// Section "Feed" of "Setting.ini" at start: what is switched on, and every
// bad value told once in words while the rest of the program runs.

#include <gtest/gtest.h>

#include <filesystem>

#include "outputs/HttpFeed.h"
#include "tests/support/TestCertificate.h"
#include "tests/integration/SessionFixture.h"

namespace tarvex::test {
namespace {

class SessionFeedTest : public SessionTest {
protected:
    // A file that may hold a token is kept for its user alone, unless said.
    void StartWith(const std::string& feed, std::filesystem::perms mode = std::filesystem::perms(0600)) {
        WriteProgramFolder(dir, std::string(kEnglishSetting) + "[Feed]\r\n" + feed);
        std::filesystem::permissions(dir.Path() / "Setting.ini", mode);
        Start(CPortMap::Empty());
    }
};

int FreePort() {
    HttpFeedSettings settings;
    settings.host = "127.0.0.1";
    CHttpFeed probe(settings);
    return probe.Start() ? probe.Port() : 0;
}

TEST_F(SessionFeedTest, EachBadValueIsToldOnceAndTheRestRuns) {
    HttpFeedSettings taken;
    taken.host = "127.0.0.1";
    CHttpFeed holder(taken);
    ASSERT_TRUE(holder.Start());
    const std::string takenPort = std::to_string(holder.Port());
    // Beside the program's Setting.ini.
    ASSERT_FALSE(MakeTestCertificate(dir.Path()).certificate.empty());
    struct Case {
        std::string feed;
        std::wstring told;  // a part of the one message; empty: none
        bool http, csv;
    };
    const std::vector<Case> cases = {
        {"", L"", false, false},
        {"Http=8787\r\n", L"\"8787\" in", false, false},
        {"Http=0.0.0.0:" + std::to_string(FreePort()) + "\r\n", L"must hold at least 16 characters", false, false},
        {"Http=0.0.0.0:" + std::to_string(FreePort()) + "\r\nToken=fifteen-chars!\r\n", L"at least 16", false, false},
        {"Http=0.0.0.0:" + std::to_string(FreePort()) + "\r\nToken=sixteen-chars-ok\r\n", L"must name a certificate", false, false},
        {"Http=0.0.0.0:" + std::to_string(FreePort()) + "\r\nToken=sixteen-chars-ok\r\nCertificate=desk.crt\r\nKey=desk.key\r\n", L"", true, false},
        {"Http=127.0.0.1:" + std::to_string(FreePort()) + "\r\nCertificate=desk.crt\r\n", L"both be given", false, false},
        {"Http=127.0.0.1:" + std::to_string(FreePort()) + "\r\nCertificate=desk.crt\r\nKey=desk.crt\r\n", L"cannot use the certificate", false, false},
        {"Http=127.0.0.1:" + takenPort + "\r\n", L"cannot listen on 127.0.0.1:" + WideFromUtf8(takenPort), false, false},
        {"Csv_File=weights.csv\r\nCsv_Separator=|\r\n", L"must be , or ;", false, true},
        {"Csv_File=" + std::string(500, 'w') + ".csv\r\n", L"[Feed] Csv_File in", false, false},
        {"Http=localhost:" + std::to_string(FreePort()) + "\r\nCsv_File=weights.csv\r\n", L"", true, true},
    };
    for (const Case& c : cases) {
        ui.told.clear();
        StartWith(c.feed);
        // The test's program has no serial port, and says so.
        std::erase(ui.told, session->Text(SECTION_MESSAGE, L"Serial_Port_Abnormal"));
        if (c.told.empty()) {
            for (const std::wstring& told : ui.told) ADD_FAILURE() << c.feed << ": " << Utf8FromWide(told);
        } else {
            ASSERT_EQ(ui.told.size(), 1u) << c.feed;
            EXPECT_NE(ui.told[0].find(c.told), std::wstring::npos) << Utf8FromWide(ui.told[0]);
        }
        EXPECT_EQ(session->Feeds().Http() != nullptr, c.http) << c.feed;
        EXPECT_EQ(session->Feeds().Outputs().size(), size_t(c.http) + size_t(c.csv)) << c.feed;
        session.reset();
    }
}

TEST_F(SessionFeedTest, ATokenOrPasswordOthersMayReadIsToldOnceWithTheWayOut) {
    const std::string secrets = "Http=127.0.0.1:" + std::to_string(FreePort()) +
                                "\r\nToken=sixteen-chars-ok\r\n[Database]\r\nConnection=host=192.0.2.1 "
                                "connect_timeout=1 password=hunter2\r\n";
    for (const auto& [mode, told] : {std::pair{0644, 2u}, std::pair{0600, 0u}}) {
        ui.told.clear();
        StartWith(secrets, std::filesystem::perms(mode));
        std::erase(ui.told, session->Text(SECTION_MESSAGE, L"Serial_Port_Abnormal"));
        ASSERT_EQ(ui.told.size(), told) << std::oct << mode;
        if (told) {
            EXPECT_NE(ui.told[0].find(L"[Feed] Token in "), std::wstring::npos) << Utf8FromWide(ui.told[0]);
            EXPECT_NE(ui.told[1].find(L"[Database] Connection in "), std::wstring::npos) << Utf8FromWide(ui.told[1]);
            EXPECT_NE(ui.told[1].find(L"password file"), std::wstring::npos) << Utf8FromWide(ui.told[1]);
            for (const std::wstring& text : ui.told) EXPECT_EQ(text.find(L"hunter2"), std::wstring::npos);
        }
        session.reset();
    }
}

}  // namespace
}  // namespace tarvex::test
