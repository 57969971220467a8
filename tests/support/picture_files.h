#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Spectrafox::Test {

// Writes a PNG whose rows are given top first, each pixel as 0xRRGGBBAA.
void writePng(const std::string& path, int width, int height, const std::vector<uint32_t>& rgba);
void writeSolidPng(const std::string& path, int width, int height, uint32_t rgba);
// Rewrites the size a PNG file's header declares, leaving its image data:
// data that then inflates past the declared size, or falls short of it.
void declarePngSize(const std::string& path, int width, int height);
// Writes an animated GIF of solid frames (colour 0xRRGGBB, delay in 1/100 s)
// with ImageMagick; returns false when that failed.
bool writeSolidGif(const std::string& path, int width, int height,
                   const std::vector<std::pair<uint32_t, int>>& frames);
// Writes a raw H.264 stream with ffmpeg (libx264): `seconds` of a solid colour.
bool writeSolidH264(const std::string& path, int width, int height, const std::string& colour,
                    double seconds = 1.0);

// A PNG read back as RGBA, rows top first; width 0 when it could not be read.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    bool ok() const { return width > 0 && height > 0; }
    // The pixel at column x of row y (from the top): its four bytes.
    const uint8_t* at(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    const uint8_t* centre() const { return at(width / 2, height / 2); }
    // Pixels with any colour in them (alpha aside).
    int litPixels() const;
};
RgbaImage readRgbaPng(const std::string& path);

} // namespace Spectrafox::Test
