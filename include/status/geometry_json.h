#pragma once

#include <string>

#include "base/geometry.h"

namespace Spectrafox {

// The geometry as the admin API speaks it: geometry.txt's keys (without
// '='), typed: REGION [x, y, w, h], BLEND_* numbers, WARP [[x, y] x 4],
// MASK a string, TEST_PATTERN a boolean.
class GeometryJson {
public:
    static std::string write(const Geometry& geometry);
    // The keys given, onto `geometry`, each checked as geometry.txt's line
    // would be. False with the reason for a body that is no JSON object, an
    // unknown key, a wrong type or a refused value; `geometry` is then
    // unchanged.
    static bool read(const std::string& body, Geometry* geometry, std::string* why);
};

} // namespace Spectrafox
