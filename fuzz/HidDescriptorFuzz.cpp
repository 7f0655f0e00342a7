// A USB device's report descriptor and reports, both arbitrary. Input: the
// descriptor's length (two bytes), the descriptor, then the device's
// reports. A descriptor is read or refused with words; a scale's reports
// give the same answers however the reads split them, and a weight always
// has digits and a unit.

#include <cstdint>
#include <string_view>
#include <tuple>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/ProtocolPieces.h"
#include "serial/HidDescriptor.h"
#include "weighing/protocols/ScaleProtocol.h"

namespace {

using namespace tarvex;

std::vector<ScaleAnswer> Heard(const HidScaleLayout& layout, std::string_view bytes, size_t piece) {
    return fuzz::HeardInPieces(*MakeHidScaleProtocol(layout), bytes, piece);
}

}  // namespace

using tarvex::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t length = std::min<size_t>(data[0] | (data[1] << 8), size - 2);
    const HidDescriptorRead read = ReadHidDescriptor(data + 2, length);
    Check(read.problem.empty() || (!read.isScale && !read.layout));
    Check(read.isScale == read.layout.has_value());
    if (!read.layout) return 0;
    const std::string_view reports(reinterpret_cast<const char*>(data + 2 + length), size - 2 - length);
    const std::vector<ScaleAnswer> whole = Heard(*read.layout, reports, reports.size() + 1);
    const std::vector<ScaleAnswer> cut = Heard(*read.layout, reports, 1 + length % 7);
    Check(whole.size() == cut.size());
    for (size_t i = 0; i < whole.size(); ++i) {
        Check(std::tie(whole[i].kind, whole[i].digits, whole[i].unit) == std::tie(cut[i].kind, cut[i].digits, cut[i].unit));
        if (whole[i].kind == ScaleAnswer::Kind::Weight) Check(!whole[i].digits.empty() && !whole[i].unit.empty());
    }
    return 0;
}
