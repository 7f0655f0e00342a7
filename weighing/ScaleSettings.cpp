#include "weighing/ScaleSettings.h"

#include <charconv>

#include "text/TextCodec.h"

namespace tarvex {
namespace {

// The poll is asked at most this often, and waited for at most this long.
constexpr int MIN_POLL_MS = 50;
constexpr int MAX_POLL_MS = 10000;
constexpr int64_t MAX_SETTLE_MS = 60000;

std::optional<int64_t> Milliseconds(std::string_view text, int64_t least, int64_t most) {
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < least || value > most) return std::nullopt;
    return value;
}

}  // namespace

ScaleSettingsRead ReadScaleSettings(const std::function<std::wstring(std::wstring_view key)>& setting) {
    ScaleSettingsRead read;
    ScaleSettings& s = read.settings;
    // Reads one key: nothing when absent, else take(value) says whether it was used.
    const auto key = [&](const wchar_t* name, const std::function<bool(const std::string&)>& take) {
        const std::wstring value = setting(name);
        if (value.empty()) return;
        if (!take(Utf8FromWide(value))) read.problems.push_back({name, value, L""});
    };
    key(L"Protocol", [&](const std::string& v) {
        const auto kind = ScaleProtocolNamed(v);
        if (kind) s.protocol = *kind;
        return kind.has_value();
    });
    key(L"Line", [&](const std::string& v) { return (s.line = LineSettingsFrom(v)).has_value(); });
    key(L"Unit", [&](const std::string& v) {
        if (v != "lb" && v != "kg") return false;
        s.unit = s.ascii.unit = v;
        return true;
    });
    key(L"Take", [&](const std::string& v) {
        const auto take = TakeModeNamed(v);
        if (take) s.take = *take;
        return take.has_value();
    });
    key(L"Settle_Ms", [&](const std::string& v) {
        const auto ms = Milliseconds(v, 0, MAX_SETTLE_MS);
        if (ms) s.settleMs = *ms;
        return ms.has_value();
    });
    key(L"Poll_Ms", [&](const std::string& v) {
        const auto ms = Milliseconds(v, MIN_POLL_MS, MAX_POLL_MS);
        if (ms) s.pollMs = static_cast<int>(*ms);
        return ms.has_value();
    });
    const std::wstring weighKey = setting(L"Weigh_Key");
    if (!weighKey.empty()) s.weighKey = weighKey;
    for (const auto& [name, target] : {std::pair{L"Poll", &s.ascii.poll}, {L"Zero", &s.ascii.zero}, {L"Tare", &s.ascii.tare}})
        key(name, [target = target](const std::string& v) {
            const auto bytes = BytesFromEscapes(v);
            if (bytes) *target = *bytes;
            return bytes.has_value();
        });
    const std::wstring pattern = setting(L"Pattern");
    if (!pattern.empty()) {
        const std::string error = AsciiPatternError(Utf8FromWide(pattern));
        if (error.empty())
            s.ascii.pattern = Utf8FromWide(pattern);
        else
            read.problems.push_back({L"Pattern", pattern, WideFromUtf8(error)});
    }
    return read;
}

std::unique_ptr<IScaleProtocol> MakeScaleProtocol(const ScaleSettings& settings) {
    switch (settings.protocol) {
        case ScaleProtocolKind::Frames: return nullptr;
        case ScaleProtocolKind::MtSics: return MakeMtSicsProtocol();
        case ScaleProtocolKind::Toledo: return MakeToledoProtocol(settings.unit.empty() ? "lb" : settings.unit);
        case ScaleProtocolKind::Nci: return MakeNciProtocol();
        case ScaleProtocolKind::Ascii: return MakeAsciiLineProtocol(settings.ascii);
        case ScaleProtocolKind::Hid: break;  // made from the device's descriptor
    }
    return nullptr;
}

LineSettings LineFor(const ScaleSettings& settings) {
    if (settings.line) return *settings.line;
    const std::unique_ptr<IScaleProtocol> protocol = MakeScaleProtocol(settings);
    return protocol ? protocol->Line() : LineSettings{};
}

}  // namespace tarvex
