#include "canvas/canvas_content/content_local_file_texture/slots/slot_report.h"

#include <algorithm>
#include <cstddef>

namespace Spectrafox {

namespace {
// Samples across and down each thumbnail pixel's part of the picture.
constexpr int kSamples = 4;

// The mean of kSamples x kSamples pixels spread evenly over the columns
// [x0, x1) and rows [y0, y1), written to out.
void averageCell(const unsigned char* rgba, int width, int x0, int x1, int y0, int y1, unsigned char* out)
{
    unsigned sum[4] = {0, 0, 0, 0};
    for (int j = 0; j < kSamples; ++j) {
        const int y = y0 + (y1 - y0) * (2 * j + 1) / (2 * kSamples);
        for (int i = 0; i < kSamples; ++i) {
            const int x = x0 + (x1 - x0) * (2 * i + 1) / (2 * kSamples);
            const unsigned char* pixel = rgba + (static_cast<std::size_t>(y) * width + x) * 4;
            for (int c = 0; c < 4; ++c)
                sum[c] += pixel[c];
        }
    }
    for (int c = 0; c < 4; ++c)
        out[c] = static_cast<unsigned char>((sum[c] + kSamples * kSamples / 2) / (kSamples * kSamples));
}
} // namespace

std::shared_ptr<const SlotThumbnail> SlotThumbnail::of(const unsigned char* rgba, int width, int height)
{
    if (!rgba || width <= 0 || height <= 0)
        return nullptr;
    auto thumbnail = std::make_shared<SlotThumbnail>();
    const double scale = std::min(1.0, static_cast<double>(kMaxSide) / std::max(width, height));
    thumbnail->width = std::max(1, static_cast<int>(width * scale));
    thumbnail->height = std::max(1, static_cast<int>(height * scale));
    thumbnail->rgba.resize(static_cast<size_t>(thumbnail->width) * thumbnail->height * 4);
    unsigned char* out = thumbnail->rgba.data();
    for (int ty = 0; ty < thumbnail->height; ++ty) {
        const int y0 = static_cast<int>(static_cast<long long>(ty) * height / thumbnail->height);
        const int y1 = static_cast<int>(static_cast<long long>(ty + 1) * height / thumbnail->height);
        for (int tx = 0; tx < thumbnail->width; ++tx, out += 4) {
            const int x0 = static_cast<int>(static_cast<long long>(tx) * width / thumbnail->width);
            const int x1 = static_cast<int>(static_cast<long long>(tx + 1) * width / thumbnail->width);
            averageCell(rgba, width, x0, x1, y0, y1, out);
        }
    }
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
