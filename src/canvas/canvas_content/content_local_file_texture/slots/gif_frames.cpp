#include "canvas/canvas_content/content_local_file_texture/slots/gif_frames.h"

#include <algorithm>
#include <utility>

namespace Spectrafox {

GifFrames::GifFrames(GifFrames&& other) noexcept
    : frames(std::exchange(other.frames, {})), delay_times(std::exchange(other.delay_times, {}))
{
}

GifFrames& GifFrames::operator=(GifFrames&& other) noexcept
{
    if (this != &other) {
        frames = std::exchange(other.frames, {});
        delay_times = std::exchange(other.delay_times, {});
    }
    return *this;
}

GifFrames GifFrames::load(const std::string& file_name, int* width, int* height)
{
    GifAnimationInfo info{};
    GIFLoader loader;
    unsigned char** frame_list = loader.loadAnimatedGif(file_name.c_str(), width, height, &info);
    return adopt(frame_list, info);
}

GifFrames GifFrames::adopt(unsigned char** frame_list, const GifAnimationInfo& info)
{
    GifFrames result;
    if (frame_list) {
        result.frames.reserve(static_cast<size_t>(std::max(info.numberOfImages, 0)));
        for (int k = 0; k < info.numberOfImages; ++k)
            result.frames.emplace_back(frame_list[k]);
        if (info.delayArray)
            result.delay_times.assign(info.delayArray, info.delayArray + info.numberOfImages);
        // A frame without a delay of its own shows for no time at all.
        result.delay_times.resize(result.frames.size(), 0);
    }
    std::free(frame_list);
    std::free(info.delayArray);
    return result;
}

} // namespace Spectrafox
