#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Spectrafox::Test {

// Writes a PNG whose rows are given top first, each pixel as 0xRRGGBBAA.
void writePng(const std::string& path, int width, int height, const std::vector<uint32_t>& rgba);
void writeSolidPng(const std::string& path, int width, int height, uint32_t rgba);
// Writes an animated GIF of solid frames (colour 0xRRGGBB, delay in 1/100 s)
// with ImageMagick; returns false when that failed.
bool writeSolidGif(const std::string& path, int width, int height,
                   const std::vector<std::pair<uint32_t, int>>& frames);
// Writes a raw H.264 stream with ffmpeg (libx264): `seconds` of a solid colour.
bool writeSolidH264(const std::string& path, int width, int height, const std::string& colour,
                    double seconds = 1.0);

} // namespace Spectrafox::Test
