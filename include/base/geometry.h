#pragma once

#include "base/homography.h"

#include <array>
#include <string>
#include <vector>

namespace Spectrafox {

// How this node's part of the stage reaches its projector: the region of the
// stage it shows, soft edges, the keystone warp, a mask file and the test
// pattern. A plain value: it is parsed and checked off the render thread
// and handed to the renderer whole. The defaults change nothing.
struct Geometry {
    struct Region {
        double x = 0.0, y = 0.0, w = 1.0, h = 1.0; // fractions of the stage
    };
    // Blend zone widths, fractions of the region's width or height.
    struct Blend {
        double left = 0.0, right = 0.0, top = 0.0, bottom = 0.0;
        double curve = 2.0, gamma = 2.2;
    };

    Region region;
    Blend blend;
    // Where the region's top-left, top-right, bottom-right and bottom-left
    // corners land, as fractions of the output (y down).
    std::array<Homography::Point, 4> warp{{{0, 0}, {1, 0}, {1, 1}, {0, 1}}};
    std::string mask; // a PNG in the show folder; empty for none
    bool test_pattern = false;

    // The keys, each with its '=', in the order geometry.txt is written.
    static const std::vector<std::string>& keys();
    // Sets one key (with its '=') from its text. False with the reason when
    // the text is malformed or out of range; the geometry is then unchanged.
    bool set(const std::string& key, const std::string& text, std::string* why);
    // One line of a file: false when it holds none of our keys (nothing
    // changes); else true, and any refusal as "KEY=: why" in *refusal.
    bool applyLine(const std::string& line, std::string* refusal);
    // Every key's line, to be read back by applyLine.
    std::string toText() const;

    // Blend, warp or mask: the picture needs the extra pass.
    bool needsPass() const;
    bool hasRegion() const;
    bool hasBlend() const;
    bool hasWarp() const;
    // The stage's size in pixels for this node's output size.
    double stageWidth(int output_width) const { return output_width / region.w; }
    double stageHeight(int output_height) const { return output_height / region.h; }
    // From region fractions to output fractions (the warp), and back.
    Homography regionToOutput() const;
    Homography outputToRegion() const;

    bool operator==(const Geometry& other) const;
    bool operator!=(const Geometry& other) const { return !(*this == other); }
};

} // namespace Spectrafox
