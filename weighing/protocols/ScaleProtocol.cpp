#include "weighing/protocols/ScaleProtocol.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

namespace tarvex {
namespace {

constexpr std::array<std::pair<ScaleProtocolKind, std::string_view>, 5> NAMES{{
    {ScaleProtocolKind::Frames, "frames"},
    {ScaleProtocolKind::MtSics, "mt-sics"},
    {ScaleProtocolKind::Toledo, "toledo"},
    {ScaleProtocolKind::Nci, "nci"},
    {ScaleProtocolKind::Ascii, "ascii"},
}};

std::optional<int> Number(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<ScaleProtocolKind> ScaleProtocolNamed(std::string_view name) {
    for (const auto& [kind, known] : NAMES)
        if (known == name) return kind;
    return std::nullopt;
}

std::string_view ScaleProtocolName(ScaleProtocolKind kind) {
    for (const auto& [known, name] : NAMES)
        if (known == kind) return name;
    return {};
}

std::optional<LineSettings> LineSettingsFrom(std::string_view text) {
    std::array<std::string_view, 4> parts;
    for (size_t i = 0; i < parts.size(); ++i) {
        const size_t comma = text.find(',');
        if ((comma == std::string_view::npos) != (i + 1 == parts.size())) return std::nullopt;
        parts[i] = text.substr(0, comma);
        if (comma != std::string_view::npos) text.remove_prefix(comma + 1);
    }
    LineSettings line;
    const std::optional<int> baud = Number(parts[0]), bits = Number(parts[1]), stop = Number(parts[3]);
    if (!baud || !bits || !stop || parts[2].size() != 1) return std::nullopt;
    line.baud = *baud;
    line.dataBits = *bits;
    line.parity = parts[2][0] >= 'a' ? static_cast<char>(parts[2][0] - 'a' + 'A') : parts[2][0];
    line.stopBits = *stop;
    constexpr std::array<int, 8> BAUDS{1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    const bool knownBaud = std::find(BAUDS.begin(), BAUDS.end(), line.baud) != BAUDS.end();
    const bool knownParity = line.parity == 'N' || line.parity == 'E' || line.parity == 'O';
    if (!knownBaud || (line.dataBits != 7 && line.dataBits != 8) || !knownParity ||
        (line.stopBits != 1 && line.stopBits != 2))
        return std::nullopt;
    return line;
}

}  // namespace tarvex
