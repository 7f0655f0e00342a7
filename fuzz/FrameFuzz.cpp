// Frame assembly and judging on an arbitrary byte stream. Input: pieces, each
// a control byte (low five bits: length 0-31; bit 5: the line falls quiet
// after it) and that many bytes. Whatever arrives, every command is either an
// acknowledge that comes with one new row or a repeat request without one,
// never two repeats in a row, and nothing is left open after a pause.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "tests/NullHosts.h"
#include "localisation/TextLookup.h"

namespace tarvex {
namespace {

class FuzzHosts : public test::NullHosts {
public:
    FuzzHosts() { answer = ANSWER_YES; }
    void SendCommand(uint8_t command) override { commands.push_back(command); }
    void WatchLineQuiet(bool open) override { quietWatched = open; }
    std::vector<uint8_t> commands;
    bool quietWatched = false;
};

// One core for every input: building one (its value array, its table) costs
// more than judging a whole input.
struct Bench {
    Bench() : core(hosts.Hosts(), texts, [] { return int64_t{1796565787}; }), link(core, hosts) {}
    FuzzHosts hosts;
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
    FuzzHosts& hosts = bench.hosts;
    if (core.Table().RowCount() > 1000) core.OnClearData();
    link.SetConnected(true);
    bool lastWasRepeat = false;
    for (size_t at = 0; at < size;) {
        const uint8_t control = data[at++];
        const size_t length = control % 32;
        const size_t take = length < size - at ? length : size - at;
        const int rowsBefore = core.Table().RowCount();
        hosts.commands.clear();
        link.OnSerialData(data + at, static_cast<int>(take));
        at += take;
        if ((control & 0x20) && hosts.quietWatched) {
            hosts.quietWatched = false;
            link.OnLineQuiet();
            Check(!hosts.quietWatched);
        }
        int acks = 0;
        for (const uint8_t sent : hosts.commands) {
            Check(sent == CMD_ACK || sent == CMD_REPEAT);
            Check(!(lastWasRepeat && sent == CMD_REPEAT));
            lastWasRepeat = sent == CMD_REPEAT;
            acks += sent == CMD_ACK;
        }
        Check(core.Table().RowCount() == rowsBefore + acks);
    }
    return 0;
}
