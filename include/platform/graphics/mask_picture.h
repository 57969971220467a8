#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Spectrafox {

// A mask as the geometry pass multiplies the output with it: one byte a
// pixel, top row first, from a PNG's alpha where it has one, else its
// luminance. Read and decoded off the render thread.
struct MaskPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> values;

    // False, with the reason, for a file that is missing, not a regular
    // file, or not a PNG that decodes.
    static bool load(const std::string& path, MaskPicture* out, std::string* why);
};

} // namespace Spectrafox
