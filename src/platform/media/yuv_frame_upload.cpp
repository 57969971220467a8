#include "platform/media/yuv_frame_upload.h"

extern "C" {
#include <libavutil/hwcontext.h>
#include <libswscale/swscale.h>
}

#include <algorithm>

namespace Spectrafox {

namespace {

bool isFullRangeFormat(int format)
{
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
           format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
           format == AV_PIX_FMT_YUVJ411P;
}

// The formats whose planes go to the texture unconverted.
bool takenAsItIs(int format, YuvLayout* layout)
{
    switch (format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P: *layout = YuvLayout::Planar; return true;
    case AV_PIX_FMT_NV12: *layout = YuvLayout::SemiPlanar; return true;
    default: return false;
    }
}

} // namespace

YuvColour yuvColourOf(const AVFrame& picture)
{
    YuvColour colour;
    switch (picture.colorspace) {
    case AVCOL_SPC_BT709: colour.matrix = YuvMatrix::Bt709; break;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_FCC: colour.matrix = YuvMatrix::Bt601; break;
    default:
        colour.matrix = picture.height >= 720 ? YuvMatrix::Bt709 : YuvMatrix::Bt601;
        break;
    }
    const bool full = picture.color_range == AVCOL_RANGE_JPEG ||
                      (picture.color_range == AVCOL_RANGE_UNSPECIFIED &&
                       isFullRangeFormat(picture.format));
    colour.range = full ? YuvRange::Full : YuvRange::Limited;
    return colour;
}

void fitWithin(int max_size, int* width, int* height)
{
    if (*width <= max_size && *height <= max_size)
        return;
    const double scale = std::min(static_cast<double>(max_size) / *width,
                                  static_cast<double>(max_size) / *height);
    *width = std::clamp(static_cast<int>(*width * scale), 1, max_size);
    *height = std::clamp(static_cast<int>(*height * scale), 1, max_size);
}

YuvFrameUpload::~YuvFrameUpload()
{
    sws_freeContext(converter);
    av_frame_free(&copied);
}

// The hardware frames context maps the buffers and copies them out; the
// colour and timing come along.
const AVFrame* YuvFrameUpload::inMemory(const AVFrame& picture)
{
    if (copied == nullptr && (copied = av_frame_alloc()) == nullptr)
        return nullptr;
    av_frame_unref(copied);
    if (av_hwframe_transfer_data(copied, &picture, 0) < 0 ||
        av_frame_copy_props(copied, &picture) < 0)
        return nullptr;
    return copied;
}

bool YuvFrameUpload::upload(const AVFrame& picture, YuvTexture& texture, int max_size)
{
    if (picture.format == AV_PIX_FMT_DRM_PRIME) {
        const AVFrame* planes = inMemory(picture);
        return planes != nullptr && upload(*planes, texture, max_size);
    }
    if (picture.width <= 0 || picture.height <= 0 || max_size <= 0)
        return false;
    const YuvColour colour = yuvColourOf(picture);
    int width = picture.width;
    int height = picture.height;
    fitWithin(max_size, &width, &height);
    YuvPlanes planes;
    if (width == picture.width && height == picture.height &&
        takenAsItIs(picture.format, &planes.layout)) {
        planes.width = width;
        planes.height = height;
        for (int k = 0; k < 3; ++k) {
            planes.data[k] = picture.data[k];
            planes.linesize[k] = picture.linesize[k];
        }
    } else if (!convert(picture, width, height, colour, &planes)) {
        return false;
    }
    return texture.upload(planes, colour, max_size);
}

// Into tight YUV420P in the picture's own matrix and range: only the
// sampling and the depth change.
bool YuvFrameUpload::convert(const AVFrame& picture, int width, int height, YuvColour colour,
                             YuvPlanes* planes)
{
    converter = sws_getCachedContext(converter, picture.width, picture.height,
                                     static_cast<AVPixelFormat>(picture.format), width, height,
                                     AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                     nullptr);
    if (converter == nullptr)
        return false;
    const int* table = sws_getCoefficients(colour.matrix == YuvMatrix::Bt709 ? SWS_CS_ITU709
                                                                              : SWS_CS_ITU601);
    const int range = colour.range == YuvRange::Full ? 1 : 0;
    sws_setColorspaceDetails(converter, table, range, table, range, 0, 1 << 16, 1 << 16);
    const int chroma_width = (width + 1) / 2;
    const int chroma_height = (height + 1) / 2;
    const size_t luma_bytes = static_cast<size_t>(width) * height;
    const size_t chroma_bytes = static_cast<size_t>(chroma_width) * chroma_height;
    converted.resize(luma_bytes + 2 * chroma_bytes);
    uint8_t* rows[4] = {converted.data(), converted.data() + luma_bytes,
                        converted.data() + luma_bytes + chroma_bytes, nullptr};
    const int strides[4] = {width, chroma_width, chroma_width, 0};
    if (sws_scale(converter, picture.data, picture.linesize, 0, picture.height, rows, strides) <= 0)
        return false;
    planes->layout = YuvLayout::Planar;
    planes->width = width;
    planes->height = height;
    for (int k = 0; k < 3; ++k) {
        planes->data[k] = rows[k];
        planes->linesize[k] = strides[k];
    }
    return true;
}

} // namespace Spectrafox
