#include "canvas/canvas_content/content_local_file_texture/video/clip_path.h"

#include <algorithm>
#include <cmath>

namespace Spectrafox {

int64_t ClipPath::clipTime(int fraction, const ClipTiming& timing)
{
    const int64_t us = static_cast<int64_t>(std::clamp(fraction, 0, PlaybackSteering::kWholeClip - 1)) *
                       timing.duration_us / PlaybackSteering::kWholeClip;
    return timing.nearestPicture(us);
}

int64_t ClipPath::place(const PlaybackSteering& steering, const ClipTiming& timing, double u_us)
{
    epoch = steering.epoch;
    holding = false;
    last_pts = -1;
    const int64_t origin = clipTime(steering.origin, timing);
    const double first_pass = static_cast<double>(timing.duration_us - origin);
    const double u = std::max(0.0, u_us);
    if (u < first_pass || steering.once) {
        pass_u = 0.0;
        pass_start = origin;
        return timing.pictureShowingAt(origin + static_cast<int64_t>(std::min(u, first_pass)));
    }
    const int64_t in = clipTime(steering.in, timing);
    const double loop = static_cast<double>(timing.duration_us - in);
    const double loops = std::floor((u - first_pass) / loop);
    pass_u = first_pass + loops * loop;
    pass_start = in;
    return timing.pictureShowingAt(in + static_cast<int64_t>(u - pass_u));
}

int64_t ClipPath::wrap(const PlaybackSteering& steering, const ClipTiming& timing)
{
    // The pass lasted as long as its pictures did, whatever the clip claimed.
    const int64_t end = last_pts >= 0 ? last_pts + timing.frame_us : timing.duration_us;
    pass_u += static_cast<double>(std::max(end - pass_start, timing.frame_us));
    pass_start = clipTime(steering.in, timing);
    last_pts = -1;
    return pass_start;
}

int64_t ClipPath::resume(const PlaybackSteering& steering, const ClipTiming& timing, double u_us)
{
    holding = false;
    pass_u = u_us;
    pass_start = clipTime(steering.in, timing);
    last_pts = -1;
    return pass_start;
}

double ClipPath::stamp(int64_t pts)
{
    last_pts = pts;
    return pass_u + static_cast<double>(pts - pass_start);
}

double ClipPath::nextU(const ClipTiming& timing) const
{
    if (last_pts < 0)
        return -1.0;
    return pass_u + static_cast<double>(last_pts + timing.frame_us - pass_start);
}

} // namespace Spectrafox
