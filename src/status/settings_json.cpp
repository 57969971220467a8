#include "status/settings_json.h"

#include <nlohmann/json.hpp>

namespace Spectrafox {

namespace {

using Json = nlohmann::json;

bool takeText(const Json& value, std::string* field)
{
    if (!value.is_string())
        return false;
    *field = value.get<std::string>();
    return true;
}

bool takeInteger(const Json& value, int* field)
{
    if (!value.is_number_integer() || value.get<long long>() < -1000000 || value.get<long long>() > 1000000)
        return false;
    *field = value.get<int>();
    return true;
}

bool take(const std::string& key, const Json& value, NodeRemote::Settings* s, bool* known)
{
    *known = true;
    if (key == "SHORT_NAME")
        return takeText(value, &s->short_name);
    if (key == "LONG_NAME")
        return takeText(value, &s->long_name);
    if (key == "DMX_START")
        return takeInteger(value, &s->dmx_start);
    if (key == "PERSONALITY")
        return takeInteger(value, &s->personality);
    if (key == "SUBNET")
        return takeInteger(value, &s->port.subnet);
    if (key == "UNIVERSE")
        return takeInteger(value, &s->port.universe);
    if (key == "NET" && value.is_null()) {
        s->port.net = NetworkInputSettings::kAnyNet;
        return true;
    }
    if (key == "NET")
        return takeInteger(value, &s->port.net) && s->port.net >= 0;
    *known = false;
    return false;
}

} // namespace

std::string SettingsJson::write(const NodeRemote::Settings& s)
{
    Json out;
    out["SHORT_NAME"] = s.short_name;
    out["LONG_NAME"] = s.long_name;
    out["DMX_START"] = s.dmx_start;
    out["PERSONALITY"] = s.personality;
    out["NET"] = s.port.net == NetworkInputSettings::kAnyNet ? Json() : Json(s.port.net);
    out["SUBNET"] = s.port.subnet;
    out["UNIVERSE"] = s.port.universe;
    return out.dump();
}

bool SettingsJson::read(const std::string& body, NodeRemote::Settings* settings, std::string* why)
{
    const Json in = Json::parse(body, nullptr, false);
    if (!in.is_object()) {
        *why = "the body is not a JSON object";
        return false;
    }
    NodeRemote::Settings changed = *settings;
    for (const auto& [key, value] : in.items()) {
        bool known = false;
        if (!take(key, value, &changed, &known)) {
            *why = known ? key + " has the wrong type" : "unknown key " + key;
            return false;
        }
    }
    *settings = changed;
    return true;
}

} // namespace Spectrafox
