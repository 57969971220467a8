#pragma once

#include "base/geometry.h"

#include <string>
#include <vector>

namespace Spectrafox {

// The picture for focusing and aligning projectors: lines at every 1/16 of
// the stage, a circle, the stage's centre cross, this node's region edges and
// a few lines of text (name, address, output size, region) in a built-in
// 5x7 font. Made of bars in stage units (y up, as canvases are drawn), so it
// goes through the region, blend, warp and mask like any canvas.
class TestPattern {
public:
    struct Bar {
        float x = 0, y = 0;           // centre
        float half_w = 0, half_h = 0; // before turning
        float angle = 0;              // degrees, counter-clockwise
        float grey = 1;
    };
    struct Frame {
        float stage_ratio = 16.0f / 9.0f;
        Geometry::Region region;
        int output_width = 0, output_height = 0;
        std::vector<std::string> label; // one entry a line
    };

    static std::vector<Bar> bars(const Frame& frame);
    // The 7 rows of a character's 5-pixel glyph, bit 4 leftmost; lower case
    // as upper case, anything unknown as '?'.
    static const unsigned char* glyph(char c);

private:
    static void addGrid(const Frame& frame, float line, std::vector<Bar>* out);
    static void addCircle(const Frame& frame, float line, std::vector<Bar>* out);
    static void addRegionEdges(const Frame& frame, float line, std::vector<Bar>* out);
    static void addLabel(const Frame& frame, std::vector<Bar>* out);
};

} // namespace Spectrafox
