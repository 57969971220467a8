#pragma once

#include "canvas/canvas_content/content_local_file_texture/video/clip_position.h"
#include "platform/media/clip_reader.h"

#include <cstdint>

namespace Spectrafox {

// Where a clip's decoder is along the path its steering describes: which
// pass through the clip (the first from the origin, then each loop from the
// in-point) it decodes, and so how far along the path (u) each decoded
// picture lies. Decode thread only.
class ClipPath {
public:
    // Finds the place `u_us` falls on and returns the time of the picture
    // showing there, for the decoder to seek to.
    int64_t place(const PlaybackSteering& steering, const ClipTiming& timing, double u_us);
    // The pass went past the clip's last picture: the next one starts at the
    // in-point, returned for the seek.
    int64_t wrap(const PlaybackSteering& steering, const ClipTiming& timing);
    // Held at the end of a clip played once, it loops again from now on.
    int64_t resume(const PlaybackSteering& steering, const ClipTiming& timing, double u_us);
    // How far along the path a decoded picture lies.
    double stamp(int64_t pts);
    // Where the next picture would lie; -1 before the first.
    double nextU(const ClipTiming& timing) const;

    static int64_t clipTime(int fraction, const ClipTiming& timing);

    uint64_t epoch = 0;
    // Past the last picture of a clip played once.
    bool holding = false;

private:
    double pass_u = 0.0;     // u where the pass began
    int64_t pass_start = 0;  // clip time where it began
    int64_t last_pts = -1;
};

} // namespace Spectrafox
