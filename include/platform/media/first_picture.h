#pragma once

#include "platform/media/clip_decoder.h"

#include <cstddef>
#include <string>

namespace Spectrafox {

// The first picture of an H.264 video (a raw stream, or the video of an
// MP4, MOV or MKV file), decoded in software and kept as the decoder gave
// it (planes, not RGBA): to show a clip the moment it is called, before its
// decoder is up. Reads at most kMostBytes of the stream, so a file without
// pictures costs little.
class FirstPicture {
public:
    static constexpr size_t kMostBytes = size_t{8} << 20;

    // Null when no picture came.
    static DecodedPicture decode(const std::string& path);
};

} // namespace Spectrafox
