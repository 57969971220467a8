#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "canvas/canvas_content/video_cue_options.h"

namespace Spectrafox {

// Settings of the content plug-ins, given by main.
struct ContentOptions {
    // Bytes that decoded pictures and their textures may take together;
    // 0 takes PictureMemoryBudget::defaultLimit().
    std::uint64_t picture_memory_bytes = 0;
    // Told, on the render thread, of a slot whose picture was left out (it
    // would not fit the budget), and whether videos are shown without a
    // copy; nothing is said without it.
    std::function<void(const std::string& message)> notice;
    // How videos get their decoders (VIDEO_ON_CUE=, VIDEO_DECODERS=).
    VideoCueOptions video;
    // Slot thumbnails, for the status page (HTTP_PORT=): made as the
    // pictures are decoded, by the start-up workers; none without it.
    bool thumbnails = false;
};

} // namespace Spectrafox
