#include "platform/graphics/light_map.h"

#include <algorithm>
#include <cmath>

namespace Spectrafox {

namespace {

double zone(double from_edge, double width, const Geometry::Blend& blend)
{
    if (width <= 0.0 || from_edge >= width)
        return 1.0;
    return LightMap::edgeFactor(std::max(0.0, from_edge / width), blend.curve, blend.gamma);
}

// As GL's linear filter with clamped edges: texel centres at (i + 0.5) / n.
double maskAt(const MaskPicture& mask, double x, double y)
{
    const double fx = std::clamp(x * mask.width - 0.5, 0.0, mask.width - 1.0);
    const double fy = std::clamp(y * mask.height - 0.5, 0.0, mask.height - 1.0);
    const int x0 = static_cast<int>(fx), y0 = static_cast<int>(fy);
    const int x1 = std::min(x0 + 1, mask.width - 1), y1 = std::min(y0 + 1, mask.height - 1);
    const double ax = fx - x0, ay = fy - y0;
    const auto at = [&](int px, int py) { return mask.values[static_cast<size_t>(py) * mask.width + px]; };
    const double top = at(x0, y0) * (1 - ax) + at(x1, y0) * ax;
    const double bottom = at(x0, y1) * (1 - ax) + at(x1, y1) * ax;
    return (top * (1 - ay) + bottom * ay) / 255.0;
}

} // namespace

double LightMap::edgeFactor(double t, double curve, double gamma)
{
    const double f = t < 0.5 ? 0.5 * std::pow(2.0 * t, curve) : 1.0 - 0.5 * std::pow(2.0 * (1.0 - t), curve);
    return std::pow(f, 1.0 / gamma);
}

void LightMap::includeDimmed(int x, int y)
{
    dim_left = std::min(dim_left, x);
    dim_right = std::max(dim_right, x);
    dim_top = std::min(dim_top, y);
    dim_bottom = std::max(dim_bottom, y);
}

LightMap LightMap::make(const Geometry& geometry, const MaskPicture* mask, int width, int height)
{
    LightMap map;
    map.width = width;
    map.height = height;
    map.dim_left = width;
    map.dim_top = height;
    map.values.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    const bool masked = mask && mask->width > 0 && mask->height > 0;
    const Homography::Matrix m = geometry.outputToRegion().values();
    const Geometry::Blend& b = geometry.blend;
    for (int y = 0; y < height; ++y) {
        const double oy = (y + 0.5) / height;
        for (int x = 0; x < width; ++x) {
            const double ox = (x + 0.5) / width;
            const double w = m[6] * ox + m[7] * oy + m[8];
            const double u = (m[0] * ox + m[1] * oy + m[2]) / w;
            const double v = (m[3] * ox + m[4] * oy + m[5]) / w;
            // Behind the projection or outside the region: no light.
            double light = 0.0;
            if (w > 0.0 && u >= 0.0 && u <= 1.0 && v >= 0.0 && v <= 1.0)
                light = zone(u, b.left, b) * zone(1.0 - u, b.right, b) * zone(v, b.top, b) *
                           zone(1.0 - v, b.bottom, b);
            if (masked && light > 0.0)
                light *= maskAt(*mask, ox, oy);
            const auto value = static_cast<uint8_t>(std::lround(255.0 * light));
            map.values[static_cast<size_t>(y) * width + x] = value;
            if (value < 255)
                map.includeDimmed(x, y);
        }
    }
    return map;
}

} // namespace Spectrafox
