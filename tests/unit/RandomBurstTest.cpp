#include <gtest/gtest.h>

#include <random>

#include "CellTexts.h"
#include "RecordingHosts.h"

namespace tarvex {
namespace {

using test::CoreFixture;
using test::WeightFrame;
using Bytes = std::vector<uint8_t>;

enum class Kind { GoodFrame, Overweight, Garbage, Anything };

struct Burst {
    Kind kind;
    Bytes bytes;
};

Burst RandomBurst(std::mt19937& rng) {
    std::uniform_int_distribution<int> byte(0, 255);
    switch (std::uniform_int_distribution<int>(0, 3)(rng)) {
        case 0: {
            const uint8_t status = static_cast<uint8_t>(byte(rng));
            const auto raw = std::uniform_int_distribution<uint32_t>(0, 0xFFFFFF)(rng);
            return {Kind::GoodFrame, WeightFrame(status, raw)};
        }
        case 1: {
            Bytes b(static_cast<size_t>(std::uniform_int_distribution<int>(1, 12)(rng)));
            for (auto& x : b) x = static_cast<uint8_t>(byte(rng));
            b[0] = 0x3F;
            return {Kind::Overweight, b};
        }
        case 2: {
            // Six bytes or more that can never be a frame, whatever the buffer held.
            Bytes b(static_cast<size_t>(std::uniform_int_distribution<int>(6, 1500)(rng)));
            for (auto& x : b) x = static_cast<uint8_t>(byte(rng));
            while (b[0] == 0x5F || b[0] == 0x3F) b[0] = static_cast<uint8_t>(byte(rng));
            return {Kind::Garbage, b};
        }
        default: {
            Bytes b(static_cast<size_t>(std::uniform_int_distribution<int>(0, 3000)(rng)));
            for (auto& x : b) x = static_cast<uint8_t>(byte(rng));
            return {Kind::Anything, b};
        }
    }
}

TEST(RandomBursts, EveryBurstIsOneRowWithAcknowledgeOrARepeatThatAlternates) {
    CoreFixture f;
    std::mt19937 rng(20261207);
    bool lastWasRepeat = false;
    for (int i = 0; i < 20000; ++i) {
        const Burst burst = RandomBurst(rng);
        const int rowsBefore = f.Rows();
        const size_t commandsBefore = f.hosts.commands.size();
        f.core.OnSerialData(burst.bytes.data(), static_cast<int>(burst.bytes.size()));

        ASSERT_EQ(f.hosts.commands.size(), commandsBefore + 1) << "burst " << i;
        const uint8_t answer = f.hosts.commands.back();
        const bool addedRow = f.Rows() == rowsBefore + 1;
        ASSERT_TRUE((addedRow && answer == CMD_ACK) ||
                    (f.Rows() == rowsBefore && answer == CMD_REPEAT))
            << "burst " << i;
        ASSERT_FALSE(lastWasRepeat && answer == CMD_REPEAT) << "two repeats in a row at " << i;

        switch (burst.kind) {
            case Kind::GoodFrame:
            case Kind::Overweight:
                ASSERT_EQ(answer, CMD_ACK) << "burst " << i;
                break;
            case Kind::Garbage:
                ASSERT_EQ(answer, lastWasRepeat ? CMD_ACK : CMD_REPEAT) << "burst " << i;
                if (addedRow) { ASSERT_EQ(f.Cell(rowsBefore, COLUMN_DATA), L"ERR"); }
                break;
            case Kind::Anything:
                break;
        }
        if (addedRow) {
            ASSERT_EQ(f.Cell(rowsBefore, COLUMN_NUMBER), FormatRowNumber(rowsBefore));
            ASSERT_FALSE(f.Cell(rowsBefore, COLUMN_DATA).empty());
        }
        lastWasRepeat = answer == CMD_REPEAT;
        if (f.Rows() > 5000) {
            f.hosts.answers.push_back(ANSWER_YES);
            f.core.OnClearData();
            ASSERT_EQ(f.Rows(), 0);
        }
    }
}

}  // namespace
}  // namespace tarvex
