#pragma once

#include <functional>
#include <string>

namespace Spectrafox {

namespace VideoPlayerLimits {
// Decoders open at once at most (VIDEO_DECODERS=).
constexpr int kMostDecoders = 8;
} // namespace VideoPlayerLimits

// How videos get their decoders. Off: the three lowest video slots play from
// start-up, the others show faint red. On: decoders follow the canvases that
// are drawn, a called clip starts at its in-point and the desk controls it.
struct VideoCueOptions {
    bool on_cue = false;        // VIDEO_ON_CUE=1
    int decoders = 3;           // VIDEO_DECODERS=
    // Told which clip waits for a decoder; may be empty.
    std::function<void(const std::string&)> notice;
};

} // namespace Spectrafox
