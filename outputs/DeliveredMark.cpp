#include "outputs/DeliveredMark.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "files/WholeFile.h"

namespace tarvex {
namespace {

constexpr const char* FIRST_LINE = "tarvex-delivered 1";

}  // namespace

std::optional<uint64_t> ReadDeliveredMark(const std::filesystem::path& file, const std::string& desk,
                                          const std::string& target) {
    std::ifstream in(file, std::ios::binary);
    std::string first, fileDesk, fileTarget, seqText;
    if (!std::getline(in, first) || first != FIRST_LINE || !std::getline(in, fileDesk) ||
        !std::getline(in, fileTarget) || !std::getline(in, seqText))
        return std::nullopt;
    if (fileDesk != desk || fileTarget != target) return std::nullopt;
    uint64_t seq = 0;
    const auto [end, error] = std::from_chars(seqText.data(), seqText.data() + seqText.size(), seq);
    if (error != std::errc() || end != seqText.data() + seqText.size()) return std::nullopt;
    return seq;
}

bool WriteDeliveredMark(const std::filesystem::path& file, const std::string& desk, const std::string& target,
                        uint64_t seq) {
    std::ostringstream text;
    text << FIRST_LINE << '\n' << desk << '\n' << target << '\n' << seq << '\n';
    return WriteWholeFile(file, text.str());
}

}  // namespace tarvex
