#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Spectrafox::Test {

// One stretch of a test clip in a single colour.
struct ClipSegment {
    uint8_t r, g, b;
    int frames;
};

struct Rgb {
    int r, g, b;
};

// Writes a raw H.264 elementary stream made with the ffmpeg command-line tool
// and libx264: the segments one after the other, each picture filled with the
// segment's colour except for a white band over the top quarter (so that an
// upside-down picture shows). False when ffmpeg failed.
bool makeH264Clip(const std::string& path, int width, int height, int fps,
                  const std::vector<ClipSegment>& segments);
// The same pictures, encoded and stored as `output_options` say (for example
// "-c:v libx264 -pix_fmt yuv420p -f mp4").
bool makeClip(const std::string& path, int width, int height, int fps,
              const std::vector<ClipSegment>& segments, const std::string& output_options);
// Runs an ffmpeg command line (without the leading "ffmpeg"), quietly.
bool runFfmpeg(const std::string& arguments);

// A raw H.264 stream of nothing but parameter sets (SPS and PPS, repeated)
// for pictures of width x height (multiples of 16): a probe learns the size,
// a decoder never gets a picture.
bool writeParameterSetsOnly(const std::string& path, int width, int height);

// Appends zero bytes (valid trailing bytes of an H.264 byte stream) until the
// file's length is a whole multiple of `multiple`; returns the new length.
long padFileToMultiple(const std::string& path, long multiple);

// Colours within `tolerance` per channel (compression and YUV round trips).
bool closeColour(Rgb a, Rgb b, int tolerance = 24);

} // namespace Spectrafox::Test
