#include "base/geometry.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <strings.h>

namespace Spectrafox {

namespace {

// Warp corners may lie somewhat outside the output (a picture cropped by the
// keystone), not anywhere.
constexpr double kWarpReach = 4.0;

// The whole text must be one finite number.
bool toNumber(const std::string& text, double* out)
{
    if (text.empty())
        return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (end != begin + text.size() || errno == ERANGE || !std::isfinite(value))
        return false;
    *out = value;
    return true;
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.emplace_back();
    return parts;
}

std::string trimmed(const std::string& text)
{
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool numbersFrom(const std::string& text, size_t count, std::vector<double>* out, std::string* why)
{
    const std::vector<std::string> parts = split(text, ',');
    if (parts.size() != count) {
        *why = "needs " + std::to_string(count) + " numbers separated by commas";
        return false;
    }
    out->clear();
    for (const std::string& part : parts) {
        double value = 0.0;
        if (!toNumber(trimmed(part), &value)) {
            *why = "'" + part + "' is not a number";
            return false;
        }
        out->push_back(value);
    }
    return true;
}

bool numberIn(const std::string& text, double lo, double hi, double* out, std::string* why)
{
    double value = 0.0;
    if (!toNumber(text, &value)) {
        *why = "'" + text + "' is not a number";
        return false;
    }
    if (value < lo || value > hi) {
        char range[64];
        std::snprintf(range, sizeof range, "must lie between %g and %g", lo, hi);
        *why = range;
        return false;
    }
    *out = value;
    return true;
}

bool regionFrom(const std::string& text, Geometry::Region* out, std::string* why)
{
    std::vector<double> v;
    if (!numbersFrom(text, 4, &v, why))
        return false;
    for (double value : v)
        if (value < 0.0 || value > 1.0) {
            *why = "every fraction must lie between 0 and 1";
            return false;
        }
    if (v[2] <= 0.0 || v[3] <= 0.0 || v[0] + v[2] > 1.0 + 1e-9 || v[1] + v[3] > 1.0 + 1e-9) {
        *why = "the region must have a size and lie inside the stage (x+w and y+h at most 1)";
        return false;
    }
    *out = {v[0], v[1], v[2], v[3]};
    return true;
}

double cross(Homography::Point o, Homography::Point a, Homography::Point b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Every turn the same way round and none straight: convex, not crossing.
bool convex(const std::array<Homography::Point, 4>& q)
{
    int positive = 0, negative = 0;
    for (int i = 0; i < 4; ++i) {
        const double turn = cross(q[i], q[(i + 1) % 4], q[(i + 2) % 4]);
        if (std::fabs(turn) < 1e-9)
            return false;
        (turn > 0.0 ? positive : negative) += 1;
    }
    return positive == 4 || negative == 4;
}

bool warpFrom(const std::string& text, std::array<Homography::Point, 4>* out, std::string* why)
{
    std::istringstream in(text);
    std::vector<std::string> corners;
    for (std::string corner; in >> corner;)
        corners.push_back(corner);
    if (corners.size() != 4) {
        *why = "needs four corners x,y separated by spaces (" + std::to_string(corners.size()) + " given)";
        return false;
    }
    std::array<Homography::Point, 4> quad;
    for (size_t i = 0; i < 4; ++i) {
        std::vector<double> v;
        if (!numbersFrom(corners[i], 2, &v, why)) {
            *why = "corner " + std::to_string(i + 1) + ": " + *why;
            return false;
        }
        if (std::fabs(v[0]) > kWarpReach || std::fabs(v[1]) > kWarpReach) {
            *why = "corner " + std::to_string(i + 1) + " lies too far outside the output";
            return false;
        }
        quad[i] = {v[0], v[1]};
    }
    if (!convex(quad)) {
        *why = "the corners must make a convex quadrilateral that does not cross itself";
        return false;
    }
    *out = quad;
    return true;
}

bool maskFrom(const std::string& text, std::string* out, std::string* why)
{
    const bool png = text.size() > 4 && strcasecmp(text.c_str() + text.size() - 4, ".png") == 0;
    if (!text.empty() && (!png || text.find('/') != std::string::npos || text[0] == '.')) {
        *why = "must name a .png file in the show folder (no folder part)";
        return false;
    }
    *out = text;
    return true;
}

// The shortest text that reads back as the same number.
std::string exact(double value)
{
    char text[40];
    for (int digits = 6; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value)
            break;
    }
    return text;
}

} // namespace

const std::vector<std::string>& Geometry::keys()
{
    static const std::vector<std::string> names{
        "REGION=",      "BLEND_LEFT=",  "BLEND_RIGHT=", "BLEND_TOP=", "BLEND_BOTTOM=",
        "BLEND_CURVE=", "BLEND_GAMMA=", "WARP=",        "MASK=",      "TEST_PATTERN="};
    return names;
}

bool Geometry::set(const std::string& key, const std::string& raw, std::string* why)
{
    const std::string text = trimmed(raw);
    double* zone = key == "BLEND_LEFT="    ? &blend.left
                   : key == "BLEND_RIGHT=" ? &blend.right
                   : key == "BLEND_TOP="   ? &blend.top
                   : key == "BLEND_BOTTOM=" ? &blend.bottom
                                            : nullptr;
    if (zone)
        return numberIn(text, 0.0, 0.5, zone, why);
    if (key == "BLEND_CURVE=")
        return numberIn(text, 1.0, 4.0, &blend.curve, why);
    if (key == "BLEND_GAMMA=")
        return numberIn(text, 1.0, 3.0, &blend.gamma, why);
    if (key == "REGION=")
        return regionFrom(text, &region, why);
    if (key == "WARP=")
        return warpFrom(text, &warp, why);
    if (key == "MASK=")
        return maskFrom(text, &mask, why);
    if (key == "TEST_PATTERN=") {
        if (text != "0" && text != "1") {
            *why = "must be 0 or 1";
            return false;
        }
        test_pattern = text == "1";
        return true;
    }
    *why = "is not a geometry key";
    return false;
}

bool Geometry::applyLine(const std::string& line, std::string* refusal)
{
    const std::string text = trimmed(line.substr(0, line.find('#')));
    const size_t equals = text.find('=');
    if (equals == std::string::npos)
        return false;
    const std::string key = trimmed(text.substr(0, equals)) + "=";
    bool ours = false;
    for (const std::string& name : keys())
        ours = ours || name == key;
    if (!ours)
        return false;
    std::string why;
    if (!set(key, text.substr(equals + 1), &why))
        *refusal = key + " " + why;
    return true;
}

std::string Geometry::toText() const
{
    const Blend& b = blend;
    std::string text = "REGION=" + exact(region.x) + "," + exact(region.y) + "," + exact(region.w) + "," +
                       exact(region.h) + "\n";
    text += "BLEND_LEFT=" + exact(b.left) + "\nBLEND_RIGHT=" + exact(b.right) + "\nBLEND_TOP=" + exact(b.top) +
            "\nBLEND_BOTTOM=" + exact(b.bottom) + "\nBLEND_CURVE=" + exact(b.curve) +
            "\nBLEND_GAMMA=" + exact(b.gamma) + "\n";
    text += "WARP=";
    for (size_t i = 0; i < warp.size(); ++i)
        text += (i ? " " : "") + exact(warp[i].x) + "," + exact(warp[i].y);
    text += "\nMASK=" + mask + "\n";
    text += std::string("TEST_PATTERN=") + (test_pattern ? "1" : "0") + "\n";
    return text;
}

bool Geometry::hasBlend() const
{
    return blend.left > 0.0 || blend.right > 0.0 || blend.top > 0.0 || blend.bottom > 0.0;
}

bool Geometry::hasWarp() const
{
    return warp != Geometry().warp;
}

bool Geometry::needsPass() const
{
    return hasBlend() || hasWarp() || !mask.empty();
}

bool Geometry::hasRegion() const
{
    return region.x != 0.0 || region.y != 0.0 || region.w != 1.0 || region.h != 1.0;
}

Homography Geometry::regionToOutput() const
{
    Homography forward;
    // A warp that passed set() is convex, so this succeeds.
    if (Homography::squareToQuad(warp, &forward))
        return forward;
    return Homography();
}

Homography Geometry::outputToRegion() const
{
    Homography inverse;
    if (regionToOutput().inverted(&inverse))
        return inverse;
    return Homography();
}

bool Geometry::operator==(const Geometry& o) const
{
    const auto regionEq = [](const Region& a, const Region& b) {
        return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
    };
    const auto blendEq = [](const Blend& a, const Blend& b) {
        return a.left == b.left && a.right == b.right && a.top == b.top && a.bottom == b.bottom &&
               a.curve == b.curve && a.gamma == b.gamma;
    };
    return regionEq(region, o.region) && blendEq(blend, o.blend) && warp == o.warp && mask == o.mask &&
           test_pattern == o.test_pattern;
}

} // namespace Spectrafox
