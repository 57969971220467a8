#include "status/geometry_json.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace Spectrafox {

namespace {

using Json = nlohmann::json;

std::string exact(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

bool numbers(const Json& list, size_t count)
{
    if (!list.is_array() || list.size() != count)
        return false;
    for (const Json& item : list)
        if (!item.is_number())
            return false;
    return true;
}

// The value as geometry.txt would hold it; false when its type is wrong.
bool asText(const std::string& key, const Json& value, std::string* text)
{
    if (key == "REGION") {
        if (!numbers(value, 4))
            return false;
        *text = exact(value[0]) + "," + exact(value[1]) + "," + exact(value[2]) + "," + exact(value[3]);
    } else if (key == "WARP") {
        if (!value.is_array() || value.size() != 4)
            return false;
        text->clear();
        for (const Json& corner : value) {
            if (!numbers(corner, 2))
                return false;
            *text += (text->empty() ? "" : " ") + exact(corner[0]) + "," + exact(corner[1]);
        }
    } else if (key == "MASK") {
        if (!value.is_string())
            return false;
        *text = value.get<std::string>();
    } else if (key == "TEST_PATTERN") {
        if (!value.is_boolean())
            return false;
        *text = value.get<bool>() ? "1" : "0";
    } else {
        if (!value.is_number())
            return false;
        *text = exact(value);
    }
    return true;
}

bool known(const std::string& key)
{
    for (const std::string& name : Geometry::keys())
        if (name == key + "=")
            return true;
    return false;
}

} // namespace

std::string GeometryJson::write(const Geometry& g)
{
    Json out;
    out["REGION"] = {g.region.x, g.region.y, g.region.w, g.region.h};
    out["BLEND_LEFT"] = g.blend.left;
    out["BLEND_RIGHT"] = g.blend.right;
    out["BLEND_TOP"] = g.blend.top;
    out["BLEND_BOTTOM"] = g.blend.bottom;
    out["BLEND_CURVE"] = g.blend.curve;
    out["BLEND_GAMMA"] = g.blend.gamma;
    out["WARP"] = Json::array();
    for (const Homography::Point& corner : g.warp)
        out["WARP"].push_back({corner.x, corner.y});
    out["MASK"] = g.mask;
    out["TEST_PATTERN"] = g.test_pattern;
    return out.dump();
}

bool GeometryJson::read(const std::string& body, Geometry* geometry, std::string* why)
{
    const Json in = Json::parse(body, nullptr, false);
    if (!in.is_object()) {
        *why = "the body is not a JSON object";
        return false;
    }
    Geometry changed = *geometry;
    for (const auto& [key, value] : in.items()) {
        std::string text;
        if (!known(key)) {
            *why = "unknown key " + key;
            return false;
        }
        if (!asText(key, value, &text)) {
            *why = key + " has the wrong type";
            return false;
        }
        std::string refusal;
        if (!changed.set(key + "=", text, &refusal)) {
            *why = key + " " + refusal;
            return false;
        }
    }
    *geometry = changed;
    return true;
}

} // namespace Spectrafox
