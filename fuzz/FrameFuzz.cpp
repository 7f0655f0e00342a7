// Frame assembly and judging on an arbitrary byte stream. Input: pieces, each
// a control byte (low five bits: length 0-31; bit 5: the line falls quiet
// after it) and that many bytes. Whatever arrives, every command is either an
// acknowledge that comes with one new row or a repeat request without one,
// never two repeats in a row, and nothing is left open after a pause.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "tests/support/FeedFrames.h"
#include "text/TextLookup.h"

namespace tarvex {
namespace {

// One core for every input: building one (its value array, its table) costs
// more than judging a whole input.
struct Bench {
    Bench() : core(texts, [] { return int64_t{1796565787}; }) {}
    std::vector<uint8_t> commands;
    CTextLookup texts;
    CWeighingCore core;
    CFrameLink link;
};

}  // namespace
}  // namespace tarvex

using tarvex::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarvex;
    static Bench bench;
    CWeighingCore& core = bench.core;
    CFrameLink& link = bench.link;
    std::vector<uint8_t>& commands = bench.commands;
    const auto record = [&](const FrameVerdict& verdict) {
        if (verdict.askRepeat) commands.push_back(CMD_REPEAT);
        if (verdict.row >= 0) commands.push_back(CMD_ACK);
    };
    if (core.Table().RowCount() > 1000) core.ClearFirstRows(core.Table().RowCount());
    link.SetConnected(true);
    bool lastWasRepeat = false;
    for (size_t at = 0; at < size;) {
        const uint8_t control = data[at++];
        const size_t length = control % 32;
        const size_t take = length < size - at ? length : size - at;
        const int rowsBefore = core.Table().RowCount();
        commands.clear();
        test::FeedFrames(link, core, data + at, static_cast<int>(take), record);
        at += take;
        if ((control & 0x20) && link.Pending()) {
            test::FlushFrame(link, core, record);
            Check(!link.Pending());
        }
        int acks = 0;
        for (const uint8_t sent : commands) {
            Check(sent == CMD_ACK || sent == CMD_REPEAT);
            Check(!(lastWasRepeat && sent == CMD_REPEAT));
            lastWasRepeat = sent == CMD_REPEAT;
            acks += sent == CMD_ACK;
        }
        Check(core.Table().RowCount() == rowsBefore + acks);
    }
    return 0;
}
