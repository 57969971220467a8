#pragma once

#include <cstdint>
#include <string>

namespace Spectrafox::Test {

// A test clip whose every picture carries its own number (`first` for the
// first picture, counting up): ten vertical bars, bar k white where bit k
// of the number is set (bit 0 on the left),
// black elsewhere, below a white band over the top eighth (so that an
// upside-down picture shows). 160 x 96 pictures unless told otherwise.
struct NumberedClip {
    int pictures = 50;
    int fps = 25;
    // Key picture every `gop` pictures (1: every picture), `b_frames` B
    // pictures in a row at most.
    int gop = 25;
    int b_frames = 2;
    // "h264" (raw stream), "mp4", "mov" or "matroska".
    std::string format = "h264";
    int width = 160;
    int height = 96;
    // The number the first picture carries: 1, so that a black screen
    // reads as no picture rather than as the first; or one per clip, so
    // that clips on one screen tell apart.
    int first_number = 0;
};
bool makeNumberedClip(const std::string& path, const NumberedClip& clip);

// The number a row of 8-bit samples (luma, or one channel of RGBA with
// `step` 4) across the picture carries; -1 where a bar is neither black nor
// white.
int numberInRow(const uint8_t* row, int width, int step = 1);

} // namespace Spectrafox::Test
