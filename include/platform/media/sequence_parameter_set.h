#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Spectrafox {

// The picture size an H.264 stream's first sequence parameter set declares:
// for streams that carry parameter sets but no picture FFmpeg could look at.
// Every field is read within the bytes given; a set that ends early, or
// declares sizes no picture has, gives no size.
class SequenceParameterSet {
public:
    // The first SPS of an Annex B byte stream (start codes before each NAL unit).
    static bool sizeInStream(const std::vector<uint8_t>& stream, int* width, int* height);
    // One SPS, after its NAL header byte, emulation prevention bytes still in.
    static bool size(const uint8_t* payload, size_t length, int* width, int* height);
};

} // namespace Spectrafox
