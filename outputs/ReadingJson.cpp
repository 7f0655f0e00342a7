#include "outputs/ReadingJson.h"

#include <nlohmann/json.hpp>

#include "text/TextCodec.h"

namespace tarvex {
namespace {

nlohmann::json OrNull(const std::optional<std::string>& text) { return text ? nlohmann::json(*text) : nlohmann::json(); }

}  // namespace

std::string ReadingJson(const ReadingFields& fields) {
    nlohmann::ordered_json json;
    json["desk"] = fields.desk;
    json["seq"] = fields.seq;
    json["number"] = fields.number;
    json["kind"] = fields.kind;
    json["kg"] = fields.kg ? nlohmann::json(*fields.kg) : nlohmann::json();
    json["shown"] = fields.shown;
    json["unit"] = fields.unit;
    json["time"] = fields.time;
    json["duration"] = fields.duration;
    json["remark"] = OrNull(fields.remark);
    json["bytes"] = OrNull(fields.bytes);
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string LiveWeightJson(const LiveWeightState& live) {
    nlohmann::ordered_json json;
    json["desk"] = live.desk;
    json["weight"] = live.weight.empty() ? nlohmann::json() : nlohmann::json(live.weight);
    json["unit"] = live.unit.empty() ? nlohmann::json() : nlohmann::json(live.unit);
    json["kg"] = live.kilograms ? nlohmann::json(*live.kilograms) : nlohmann::json();
    json["state"] = live.state;
    json["state_text"] = Utf8FromWide(live.stateText);
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tarvex
