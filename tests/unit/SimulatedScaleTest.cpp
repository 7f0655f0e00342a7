// The simulator's scales say what the protocols read: its answers, fed to
// the translators that are held to the makers' published bytes, give back
// the weight on its platter, its motion, zero and tare.

#include <gtest/gtest.h>

#include "simulator/ScaleAnswers.h"
#include "weighing/protocols/AsciiLine.h"
#include "weighing/protocols/ScaleProtocol.h"
#include "weighing/protocols/ScaleWeight.h"

namespace tarvex::test {
namespace {

using sim::Clock;

TEST(SimulatedScale, AnswersReadBackByEachProtocol) {
    const struct {
        sim::Protocol protocol;
        std::unique_ptr<IScaleProtocol> reader;
        std::string unit, settled;  // the digits of 1.25 kg in the unit
    } cases[] = {
        {sim::Protocol::MtSics, MakeMtSicsProtocol(), "kg", "1.250"},
        {sim::Protocol::Toledo, MakeToledoProtocol("lb"), "lb", "002.76"},
        {sim::Protocol::Nci, MakeNciProtocol(), "lb", "2.76"},
        {sim::Protocol::Ascii, MakeAsciiLineProtocol({}), "kg", "1.250"},
    };
    for (const auto& c : cases) {
        sim::CPlatter platter;
        sim::AnswerCounts counts;
        const Clock::time_point start = Clock::now();
        const auto ask = [&](ScaleCommand command, Clock::time_point at) {
            const std::string sent = c.reader->Command(command);
            std::string answer;
            for (const std::string& heard : sim::CCommandCutter(c.protocol).Feed(sent.empty() ? "\n" : sent))
                answer += sim::AnswerTo(c.protocol, heard, platter, at, c.unit, counts);
            std::vector<ScaleAnswer> answers;
            c.reader->Feed(answer, answers);
            EXPECT_EQ(answers.size(), 1u) << answer;
            return answers.empty() ? ScaleAnswer{} : answers.front();
        };
        platter.Put(1.25, start);
        const ScaleAnswer swaying = ask(ScaleCommand::Poll, start + sim::SWAY_TIME / 2);
        EXPECT_TRUE(swaying.status.motion) << static_cast<int>(c.protocol);
        const ScaleAnswer settled = ask(ScaleCommand::Poll, start + sim::SWAY_TIME);
        EXPECT_EQ(settled.kind, ScaleAnswer::Kind::Weight) << static_cast<int>(c.protocol);
        EXPECT_EQ(settled.digits, c.settled);
        EXPECT_FALSE(settled.status.motion);
        if (c.protocol == sim::Protocol::Ascii) continue;  // it prints; zero and tare are the desk's own
        ask(ScaleCommand::Tare, start + sim::SWAY_TIME);
        const ScaleAnswer tared = ask(ScaleCommand::Poll, start + sim::SWAY_TIME);
        EXPECT_EQ(KilogramsOf(tared.digits, tared.unit), 0.0) << static_cast<int>(c.protocol);
        platter.Put(40.0, start + sim::SWAY_TIME);
        EXPECT_TRUE(ask(ScaleCommand::Poll, start + 2 * sim::SWAY_TIME).status.over) << static_cast<int>(c.protocol);
        EXPECT_EQ(counts.tares, 1u);
        EXPECT_EQ(counts.unknown, 0u);
    }
}

}  // namespace
}  // namespace tarvex::test
