#pragma once

#include "platform/fixed_function/yuv_texture.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <cstdint>
#include <vector>

struct SwsContext;

namespace Spectrafox {

// The colour matrix and range of a decoded picture, from the stream where
// it says; otherwise BT.709 for pictures 720 lines and taller, BT.601
// below, and limited range (full for the "J" formats).
YuvColour yuvColourOf(const AVFrame& picture);

// The size a picture is drawn at when one side is beyond `max_size`:
// scaled to fit, aspect kept.
void fitWithin(int max_size, int* width, int* height);

// Hands decoded pictures to a YuvTexture at 1.5 bytes a pixel. 8-bit 4:2:0
// (YUV420P, NV12 and the J variants) goes as it is; other formats (10-bit,
// 4:2:2, 4:4:4, ...) and pictures beyond the texture limit are converted
// once by libswscale into 8-bit 4:2:0 of the size that fits. Pictures in
// DMA-BUFs (DRM PRIME) are copied into memory first.
class YuvFrameUpload {
public:
    YuvFrameUpload() = default;
    ~YuvFrameUpload();
    YuvFrameUpload(const YuvFrameUpload&) = delete;
    YuvFrameUpload& operator=(const YuvFrameUpload&) = delete;

    // False, keeping the texture's last picture, for a picture that cannot
    // be converted.
    bool upload(const AVFrame& picture, YuvTexture& texture, int max_size);

private:
    bool convert(const AVFrame& picture, int width, int height, YuvColour colour,
                 YuvPlanes* planes);
    const AVFrame* inMemory(const AVFrame& picture);

    SwsContext* converter = nullptr;
    AVFrame* copied = nullptr;
    std::vector<uint8_t> converted;
};

} // namespace Spectrafox
