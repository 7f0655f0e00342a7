#pragma once
// The scale's settings in Setting.ini, section [Scale]:
//   Protocol=frames|mt-sics|toledo|nci|ascii   (frames: the 0x5A handshake scale)
//   Line=9600,7,E,1    overrides the protocol's own line settings
//   Unit=lb|kg         for scales that send none (Toledo 8217, ASCII lines without one)
//   Pattern=, Poll=, Zero=, Tare=   the ASCII lines' pattern and commands (\r, \n, \xHH)
//   Take=settle|key|both, Settle_Ms=500, Poll_Ms=200, Weigh_Key=F8
// A value that cannot be used is named and its default taken.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "weighing/TakeRule.h"
#include "weighing/protocols/AsciiLine.h"
#include "weighing/protocols/ScaleProtocol.h"

namespace tarvex {

inline constexpr wchar_t SECTION_SCALE[] = L"Scale";

constexpr int DEFAULT_POLL_MS = 200;

struct ScaleSettings {
    ScaleProtocolKind protocol = ScaleProtocolKind::Frames;
    std::optional<LineSettings> line;  // the protocol's own when not set
    std::string unit;                  // empty: the protocol's default
    AsciiLineSettings ascii;
    TakeMode take = TakeMode::Settle;
    int64_t settleMs = DEFAULT_SETTLE_MS;
    int pollMs = DEFAULT_POLL_MS;
    std::wstring weighKey = L"F8";
};

// A key whose value was not taken, and why (PCRE2's words for a pattern).
struct ScaleSettingProblem {
    std::wstring key;
    std::wstring value;
    std::wstring why;
    bool operator==(const ScaleSettingProblem&) const = default;
};

struct ScaleSettingsRead {
    ScaleSettings settings;
    std::vector<ScaleSettingProblem> problems;
};

// setting(key): the key's value in [Scale], empty when absent.
ScaleSettingsRead ReadScaleSettings(const std::function<std::wstring(std::wstring_view key)>& setting);

// The protocol the settings name; nullptr for the frames, which have their own link.
std::unique_ptr<IScaleProtocol> MakeScaleProtocol(const ScaleSettings& settings);
// The line settings to ask for: the override, else the protocol's own.
LineSettings LineFor(const ScaleSettings& settings);

}  // namespace tarvex
