#include <gtest/gtest.h>

#include <random>

#include "weighing/CellTexts.h"
#include "tests/support/RecordingHosts.h"

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
            Bytes b(static_cast<size_t>(std::uniform_int_distribution<int>(1, 6)(rng)));
            for (auto& x : b) x = static_cast<uint8_t>(byte(rng));
            b[0] = 0x3F;
            return {Kind::Overweight, b};
        }
        case 2: {
            // Bytes that cannot begin a frame, less than the receive buffer holds.
            Bytes b(static_cast<size_t>(std::uniform_int_distribution<int>(1, 1500)(rng)));
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

// Bursts each followed by a pause: a good frame or an overweight report is
// one row with its acknowledge, noise one damaged frame; random bytes may
// hold several frames. Whatever came: every command is an acknowledge of one
// new row or a repeat without a row, and never two repeats in a row.
TEST(RandomBursts, EveryFrameIsOneRowWithAcknowledgeOrARepeatThatAlternates) {
    CoreFixture f;
    std::mt19937 rng(20261207);
    bool lastWasRepeat = false;
    for (int i = 0; i < 20000; ++i) {
        const Burst burst = RandomBurst(rng);
        const int rowsBefore = f.Rows();
        const size_t commandsBefore = f.hosts.commands.size();
        f.Feed(burst.bytes);

        const Bytes sent(f.hosts.commands.begin() + static_cast<std::ptrdiff_t>(commandsBefore), f.hosts.commands.end());
        int acks = 0;
        for (const uint8_t command : sent) {
            ASSERT_TRUE(command == CMD_ACK || command == CMD_REPEAT) << "burst " << i;
            ASSERT_FALSE(lastWasRepeat && command == CMD_REPEAT) << "two repeats in a row at " << i;
            lastWasRepeat = command == CMD_REPEAT;
            acks += command == CMD_ACK;
        }
        ASSERT_EQ(f.Rows(), rowsBefore + acks) << "burst " << i;
        switch (burst.kind) {
            case Kind::GoodFrame:
            case Kind::Overweight:
                ASSERT_EQ(sent, Bytes{CMD_ACK}) << "burst " << i;
                break;
            case Kind::Garbage:
                ASSERT_EQ(sent.size(), 1u) << "burst " << i;
                if (acks == 1) { ASSERT_EQ(f.Cell(rowsBefore, COLUMN_DATA), L"ERR"); }
                break;
            case Kind::Anything:
                ASSERT_EQ(sent.empty(), burst.bytes.empty()) << "burst " << i;
                break;
        }
        for (int row = rowsBefore; row < f.Rows(); ++row) {
            ASSERT_EQ(f.Cell(row, COLUMN_NUMBER), FormatRowNumber(row));
            ASSERT_FALSE(f.Cell(row, COLUMN_DATA).empty());
        }
        if (f.Rows() > 5000) {
            f.core.ClearFirstRows(f.Rows());
            ASSERT_EQ(f.Rows(), 0);
        }
    }
}

}  // namespace
}  // namespace tarvex
