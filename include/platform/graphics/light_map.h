#pragma once

#include "base/geometry.h"
#include "platform/graphics/mask_picture.h"

#include <cstdint>
#include <vector>

namespace Spectrafox {

// How much of the picture each output pixel lets through, one byte a pixel,
// top row first: 0 outside the warped region, the soft edges' ramps (in the
// region's own coordinates, so they follow the keystone; where two zones
// meet their factors multiply) times the mask stretched to the output.
// Worked out once per geometry on the CPU, off the render thread, so the
// pass's shader fetches one value where it would evaluate a dozen powers
// per pixel.
struct LightMap {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> values;
    // The smallest rectangle holding every pixel not at full light (pixels,
    // inclusive; right < left when there is none): where the picture needs
    // darkening at all.
    int dim_left = 0, dim_top = 0, dim_right = -1, dim_bottom = -1;

    static LightMap make(const Geometry& geometry, const MaskPicture* mask, int width, int height);
    // A blend zone's factor at t, from its outer edge (0) to its inner edge
    // (1): f(t)^(1/gamma), f rising from 0 to 1 with f(t) + f(1-t) = 1.
    static double edgeFactor(double t, double curve, double gamma);

private:
    void includeDimmed(int x, int y);
};

} // namespace Spectrafox
