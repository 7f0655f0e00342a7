// The scales' protocols on an arbitrary byte stream. Input: a byte that
// picks the protocol and the size of the pieces, then the scale's bytes.
// Whatever arrives, the answers are the same however the reads split the
// bytes, no answer holds more than one answer's worth of bytes, and a
// weight always has digits.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/ProtocolPieces.h"
#include "weighing/protocols/AsciiLine.h"
#include "weighing/protocols/ScaleProtocol.h"

namespace {

using namespace tarvex;

std::unique_ptr<IScaleProtocol> Make(int which) {
    switch (which % 4) {
        case 0: return MakeMtSicsProtocol();
        case 1: return MakeToledoProtocol("lb");
        case 2: return MakeNciProtocol();
        default: return MakeAsciiLineProtocol({});
    }
}

auto Key(const ScaleAnswer& a) {
    return std::tie(a.kind, a.command, a.digits, a.unit, a.status.motion, a.status.atZero, a.status.over,
                    a.status.under, a.status.fault, a.text);
}

std::vector<ScaleAnswer> Heard(int which, std::string_view bytes, size_t piece) {
    return fuzz::HeardInPieces(*Make(which), bytes, piece);
}

}  // namespace

using tarvex::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int which = data[0] & 0x03;
    const size_t piece = 1 + (data[0] >> 2);
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::vector<ScaleAnswer> whole = Heard(which, bytes, bytes.size() + 1);
    const std::vector<ScaleAnswer> cut = Heard(which, bytes, piece);
    Check(whole.size() == cut.size());
    for (size_t i = 0; i < whole.size(); ++i) {
        Check(Key(whole[i]) == Key(cut[i]));
        // The bytes of one answer, with its start or end byte at most.
        Check(whole[i].text.size() <= MAX_ANSWER_BYTES + 1);
        if (whole[i].kind == ScaleAnswer::Kind::Weight) Check(!whole[i].digits.empty() && !whole[i].unit.empty());
    }
    return 0;
}
