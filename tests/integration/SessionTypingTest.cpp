// Typing at the session, with a keyboard that records: only weight rows,
// as the Data cell shows them in the unit of the moment, each once (not
// again after a unit switch, a restart or a restored journal); section
// "Wedge" of "Setting.ini" read at start, a bad value told once. The check
// box and a desktop without typing are tested end to end.

#include <gtest/gtest.h>

#include "tests/support/RecordingKeyboard.h"
#include "tests/integration/SessionFixture.h"

namespace tarvex::test {
namespace {

const uint8_t kWeight[6] = {0x5F, 0x02, 0x00, 0x30, 0x39, 0x54};  // 1234.5 kg
const uint8_t kOverweight[6] = {0x3F, 0, 0, 0, 0, 0};
const uint8_t kDamaged[6] = {0x5F, 0x02, 0x00, 0x30, 0x39, 0x00};

class SessionTypingTest : public SessionTest {
protected:
    void SetUp() override {
        openKeyboard = [this](KeyboardAbsence&) { return std::make_unique<CRecordingKeyboard>(keyboard); };
    }
    void StartWith(const std::string& wedge) {
        WriteProgramFolder(dir, std::string(kEnglishSetting) + "[Wedge]\r\n" + wedge);
        Start(CPortMap::Empty());
        ui.told.erase(std::remove(ui.told.begin(), ui.told.end(), session->Text(SECTION_MESSAGE, L"Serial_Port_Abnormal")),
                      ui.told.end());
    }
    void Receive(const uint8_t* frame, int times = 1) {
        session->Link().SetConnected(true);
        for (int i = 0; i < times; ++i) session->OnSerialData(frame, 6);
        session->Link().SetConnected(false);
    }
    std::vector<std::u32string> Typed(size_t atLeast) {
        ui.PumpUntil([&] { return keyboard->Count() >= atLeast; }, 10000);
        std::lock_guard<std::mutex> guard(keyboard->lock);
        return keyboard->typed;
    }

    std::shared_ptr<KeyboardState> keyboard = std::make_shared<KeyboardState>();
};

TEST_F(SessionTypingTest, WeightsAreTypedOnceAsShownInTheUnitOfTheMoment) {
    StartWith("Enabled=1\r\nSuffix=Tab\r\n");
    EXPECT_TRUE(ui.told.empty());
    Receive(kWeight);
    Receive(kOverweight);
    Receive(kDamaged, 2);  // the second time it is a row
    session->OnUnitLb();
    Receive(kWeight);
    ASSERT_EQ(Rows(), 4);
    const std::vector<std::u32string> expected = {U"1234.5", U"2720.8"};
    EXPECT_EQ(Typed(2), expected);
    EXPECT_EQ(keyboard->then, (std::vector<TypedKey>{TypedKey::Tab, TypedKey::Tab}));
    EXPECT_TRUE(ui.PumpUntil([&] { return session->StatusText().find(L"Last typed: 2720.8") != std::wstring::npos; }, 10000));
    // Started again over the same journal, its rows restored: none is typed again.
    session.reset();
    ui.answers.push_back(ANSWER_YES);
    Start(CPortMap::Empty());
    ASSERT_EQ(Rows(), 4);
    ui.PumpFor(100);
    EXPECT_EQ(Typed(0), expected);
}

TEST_F(SessionTypingTest, EachBadValueIsToldOnceAndTheRestRuns) {
    const struct {
        std::string wedge;
        std::wstring told;  // a part of the one message
    } cases[] = {
        {"Enabled=1\r\nSuffix=Space\r\n", L"Suffix=Space"},
        {"Enabled=1\r\nOn=Always\r\n", L"On=Always"},
        {"Enabled=1\r\nOn=Key\r\nKey=F5\r\n", L"Key=F5"},
        {"Enabled=1\r\nOn=Key\r\nKey=Ctrl+W\r\n", L"Key=Ctrl+W"},
    };
    for (const auto& c : cases) {
        ui.told.clear();
        StartWith(c.wedge);
        ASSERT_EQ(ui.told.size(), 1u) << c.wedge;
        EXPECT_NE(ui.told[0].find(c.told), std::wstring::npos) << Utf8FromWide(ui.told[0]);
        EXPECT_TRUE(session->Wedge().Enabled()) << c.wedge;
        session.reset();
    }
}

}  // namespace
}  // namespace tarvex::test
