#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Spectrafox {

// The first picture of an H.264 video (a raw stream, or the video of an
// MP4, MOV or MKV file), decoded in software to RGBA, top row first. Used to
// show a clip the moment it is called, before its decoder is up. Reads at
// most kMostBytes of the stream, so a file without pictures costs little.
class FirstPicture {
public:
    static constexpr size_t kMostBytes = size_t{8} << 20;

    // False (and nothing written) when no picture came.
    static bool decode(const std::string& path, std::vector<uint8_t>* rgba, int* width,
                       int* height);
};

} // namespace Spectrafox
