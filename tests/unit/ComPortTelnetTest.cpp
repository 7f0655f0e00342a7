// Telnet with the COM-PORT-OPTION, as a server's bytes come in pieces.

#include <gtest/gtest.h>

#include "serial/ComPortTelnet.h"

namespace tarvex {
namespace {

using namespace telnet;
using Bytes = std::vector<uint8_t>;

// Feeds the bytes cut at every place in turn, so every state meets a split.
void ExpectEveryCut(const Bytes& wire, const Bytes& data, const Bytes& replies) {
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        CComPortTelnet telnet;
        Bytes gotData, gotReplies;
        telnet.Receive(wire.data(), cut, gotData, gotReplies);
        telnet.Receive(wire.data() + cut, wire.size() - cut, gotData, gotReplies);
        EXPECT_EQ(gotData, data) << "cut at " << cut;
        EXPECT_EQ(gotReplies, replies) << "cut at " << cut;
    }
}

TEST(ComPortTelnet, ServerBytesGiveOnlyDataAndTheRightAnswers) {
    const Bytes settings = [] {
        CComPortTelnet telnet;
        Bytes data, replies;
        const Bytes agree{IAC, DO, COM_PORT_OPTION};
        telnet.Receive(agree.data(), agree.size(), data, replies);
        return replies;
    }();
    struct Case {
        const char* what;
        Bytes wire, data, replies;
    };
    const Case cases[] = {
        {"a doubled 0xFF is one data byte", {0x41, IAC, IAC, 0x42}, {0x41, IAC, 0x42}, {}},
        {"commands in the stream never reach the data", {0x01, IAC, 241, 0x02, IAC, 249, 0x03}, {1, 2, 3}, {}},
        {"an unknown option offered is refused", {IAC, WILL, 24, 0x30}, {0x30}, {IAC, DONT, 24}},
        {"an unknown option asked for is refused", {IAC, DO, 31}, {}, {IAC, WONT, 31}},
        {"a refusal is never answered", {IAC, DONT, 31, IAC, WONT, 24}, {}, {}},
        {"binary offered by the server is taken", {IAC, WILL, BINARY}, {}, {IAC, DO, BINARY}},
        {"a notification inside the stream is skipped, its 0xFF too",
         {0x31, IAC, SB, COM_PORT_OPTION, 107, IAC, IAC, IAC, SE, 0x32}, {0x31, 0x32}, {}},
        {"the settings follow the server's yes to the option", {IAC, DO, COM_PORT_OPTION}, {}, settings},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectEveryCut(c.wire, c.data, c.replies);
    }
    // The option confirmed, then 9600 8N1, no flow control, RTS on: what a scale talks.
    const Bytes expected{IAC, WILL, 44, IAC, SB, 44, 1, 0, 0, 0x25, 0x80, IAC, SE, IAC, SB, 44, 2, 8, IAC, SE,
                         IAC, SB, 44, 3, 1, IAC, SE, IAC, SB, 44, 4, 1, IAC, SE,
                         IAC, SB, 44, 5, 1, IAC, SE, IAC, SB, 44, 5, 11, IAC, SE};
    EXPECT_EQ(settings, expected);
}

TEST(ComPortTelnet, AnswersToOurOwnRequestsAreNotAnsweredAgain) {
    CComPortTelnet telnet;
    const Bytes opening = telnet.Opening();
    EXPECT_EQ(opening, (Bytes{IAC, WILL, BINARY, IAC, WILL, SUPPRESS_GO_AHEAD, IAC, WILL, COM_PORT_OPTION,
                              IAC, DO, BINARY, IAC, DO, SUPPRESS_GO_AHEAD}));
    EXPECT_FALSE(telnet.Settled());
    const Bytes answers{IAC, DO, BINARY, IAC, WILL, BINARY, IAC, DO, SUPPRESS_GO_AHEAD, IAC, WILL, SUPPRESS_GO_AHEAD};
    Bytes data, replies;
    telnet.Receive(answers.data(), answers.size(), data, replies);
    EXPECT_TRUE(replies.empty());
    const Bytes no{IAC, DONT, COM_PORT_OPTION};
    telnet.Receive(no.data(), no.size(), data, replies);
    EXPECT_TRUE(telnet.Settled());  // refused: the link goes on as plain Telnet
    EXPECT_TRUE(replies.empty());
    EXPECT_TRUE(data.empty());
}

TEST(ComPortTelnet, SettingsTheServerKeepsAreToldOnce) {
    CComPortTelnet telnet;
    const Bytes answers{IAC, SB, 44, 101, 0, 0, 0x4B, 0x00, IAC, SE,  // 19200 baud
                        IAC, SB, 44, 102, 8, IAC, SE,                 // 8 data bits, as asked
                        IAC, SB, 44, 103, 3, IAC, SE,                 // even parity
                        IAC, SB, 44, 105, 12, IAC, SE};               // RTS off
    Bytes data, replies;
    telnet.Receive(answers.data(), answers.size(), data, replies);
    EXPECT_EQ(telnet.TakeDifferences(), L"19200 baud, parity even, RTS off");
    telnet.Receive(answers.data(), answers.size(), data, replies);
    EXPECT_EQ(telnet.TakeDifferences(), L"");
    EXPECT_TRUE(data.empty());
}

TEST(ComPortTelnet, AHostileServerNeitherSwallowsTheLineUnseenNorFillsMemory) {
    // A thousand ever new baud rates: the newest is told, in one slot.
    CComPortTelnet flooded;
    Bytes data, replies;
    for (uint32_t baud = 1; baud <= 1000; ++baud) {
        const Bytes answer{IAC, SB, 44, 101, 0, 0, static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud), IAC, SE};
        flooded.Receive(answer.data(), answer.size(), data, replies);
    }
    EXPECT_EQ(flooded.TakeDifferences(), L"1000 baud");
    // A subnegotiation that never ends: data before it kept, then the line is given up.
    CComPortTelnet endless;
    const Bytes opened{0x41, IAC, SB, 44, 101};
    endless.Receive(opened.data(), opened.size(), data, replies);
    const Bytes filler(MAX_SUBNEGOTIATION, 0x30);
    endless.Receive(filler.data(), filler.size(), data, replies);
    EXPECT_TRUE(endless.Endless());
    EXPECT_EQ(data, Bytes{0x41});
}

TEST(ComPortTelnet, SevenBitsEvenParityAskedAndWhatTheServerKeepsTold) {
    CComPortTelnet telnet;
    telnet.Ask({9600, 7, 'E', 1});
    Bytes data, replies;
    const Bytes agree{IAC, DO, COM_PORT_OPTION};
    telnet.Receive(agree.data(), agree.size(), data, replies);
    const Bytes asked{IAC, WILL, 44, IAC, SB, 44, 1, 0, 0, 0x25, 0x80, IAC, SE, IAC, SB, 44, 2, 7, IAC, SE,
                      IAC, SB, 44, 3, 3, IAC, SE, IAC, SB, 44, 4, 1, IAC, SE};
    ASSERT_GE(replies.size(), asked.size());
    EXPECT_EQ(Bytes(replies.begin(), replies.begin() + static_cast<long>(asked.size())), asked);
    const Bytes taken{IAC, SB, 44, 102, 7, IAC, SE, IAC, SB, 44, 103, 3, IAC, SE};  // what ser2net answers
    telnet.Receive(taken.data(), taken.size(), data, replies);
    EXPECT_EQ(telnet.TakeDifferences(), L"");
    const Bytes kept{IAC, SB, 44, 102, 8, IAC, SE, IAC, SB, 44, 103, 1, IAC, SE};  // a server that cannot
    telnet.Receive(kept.data(), kept.size(), data, replies);
    EXPECT_EQ(telnet.TakeDifferences(), L"8 data bits, parity none");
}

TEST(ComPortTelnet, DataGoingOutHasItsIacDoubled) {
    Bytes wire;
    const Bytes data{0x00, IAC, 0x41, IAC, IAC};
    CComPortTelnet::Escape(data.data(), data.size(), wire);
    EXPECT_EQ(wire, (Bytes{0x00, IAC, IAC, 0x41, IAC, IAC, IAC, IAC}));
}

}  // namespace
}  // namespace tarvex
