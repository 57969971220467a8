#pragma once

#include <memory>
#include <string>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/slots/slot_kind.h"

namespace Spectrafox {

// What a slot shows, in the terms of the manual's error colour table.
enum class SlotState {
    Empty,            // no file for this number
    Picture,          // a still image
    Animation,        // a GIF
    VideoPlaying,     // a decoder has written pictures
    VideoStarting,    // a decoder is taken, no picture yet
    VideoSizeUnknown, // faint yellow
    NoDecoderFree,    // faint red
    VideoNoPicture,   // faint blue
    BrokenPng,        // faint magenta
    BrokenGif,        // faint cyan
    OverMemoryBudget, // faint orange
};

// A small RGBA copy of a slot's picture, top row first.
struct SlotThumbnail {
    static constexpr int kMaxSide = 64;
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;

    // Scaled to fit kMaxSide on both sides, proportions kept: each pixel the
    // mean of a few samples spread over its part of the picture, a fixed cost
    // however large the picture is.
    static std::shared_ptr<const SlotThumbnail> of(const unsigned char* rgba, int width, int height);
};

// How a slot's video plays, while it holds a decoder.
struct PlaybackReport {
    bool playing = false;
    const char* mode = "loop"; // "loop", "once", "pause" or "scrub"
    double rate = 1.0;         // clip seconds per second (0 while held)
    double position_s = 0.0;   // of the picture on screen; -1 before the first
    double length_s = 0.0;     // 0 until the decoder knows
    bool resting = false;      // off screen, decoding nothing
};

// One slot as the status page and the console describe it. Made on the render
// thread; a plain copy afterwards, safe to hand to any thread.
struct SlotReport {
    int slot = 0;
    SlotState state = SlotState::Empty;
    std::string file;  // as found under textures/, empty when none
    int width = 0;     // the picture's own size (1 x 1 for an error texel)
    int height = 0;
    int frames = 0;    // GIF frames
    std::shared_ptr<const SlotThumbnail> thumbnail; // null for a video
    PlaybackReport playback;

    bool isError() const;
};

// "picture", "GIF", "video playing", ... and the errors in the manual's words
// ("video gives no picture: not H.264", "all video decoders taken", ...).
const char* slotStateWords(SlotState state);

} // namespace Spectrafox
