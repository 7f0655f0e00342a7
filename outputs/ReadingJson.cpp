#include "outputs/ReadingJson.h"

#include <nlohmann/json.hpp>

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

}  // namespace tarvex
