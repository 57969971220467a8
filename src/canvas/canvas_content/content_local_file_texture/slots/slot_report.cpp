#include "canvas/canvas_content/content_local_file_texture/slots/slot_report.h"

#include <algorithm>

#include <stb_image_resize.h>

namespace Spectrafox {

std::shared_ptr<const SlotThumbnail> SlotThumbnail::of(const unsigned char* rgba, int width, int height)
{
    if (!rgba || width <= 0 || height <= 0)
        return nullptr;
    auto thumbnail = std::make_shared<SlotThumbnail>();
    const double scale = std::min(1.0, static_cast<double>(kMaxSide) / std::max(width, height));
    thumbnail->width = std::max(1, static_cast<int>(width * scale));
    thumbnail->height = std::max(1, static_cast<int>(height * scale));
    thumbnail->rgba.resize(static_cast<size_t>(thumbnail->width) * thumbnail->height * 4);
    stbir_resize_uint8(rgba, width, height, 0, thumbnail->rgba.data(), thumbnail->width,
                       thumbnail->height, 0, 4);
    return thumbnail;
}

bool SlotReport::isError() const
{
    switch (state) {
    case SlotState::Empty:
    case SlotState::Picture:
    case SlotState::Animation:
    case SlotState::VideoPlaying:
    case SlotState::VideoStarting:
        return false;
    default:
        return true;
    }
}

const char* slotStateWords(SlotState state)
{
    switch (state) {
    case SlotState::Empty:
        return "no file";
    case SlotState::Picture:
        return "picture";
    case SlotState::Animation:
        return "GIF";
    case SlotState::VideoPlaying:
        return "video playing";
    case SlotState::VideoStarting:
        return "video waiting for its first picture";
    case SlotState::VideoSizeUnknown:
        return "video whose size could not be learnt";
    case SlotState::NoDecoderFree:
        return "all video decoders taken";
    case SlotState::VideoNoPicture:
        return "video gives no picture: not H.264";
    case SlotState::BrokenPng:
        return ".png that cannot be read or decoded";
    case SlotState::BrokenGif:
        return ".gif that cannot be read or decoded";
    case SlotState::OverMemoryBudget:
        return "left out: does not fit the picture memory";
    }
    return "unknown";
}

} // namespace Spectrafox
