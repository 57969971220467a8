#include "platform/media/drm_prime_picture.h"

#include "platform/media/yuv_frame_upload.h"

extern "C" {
#include <libavutil/hwcontext_drm.h>
}

#include <cstdint>
#include <limits>

namespace Spectrafox {

namespace {

constexpr uint32_t kDrmFormatR8 = drmFourcc('R', '8', ' ', ' ');
constexpr uint32_t kDrmFormatGr88 = drmFourcc('G', 'R', '8', '8');
constexpr uint64_t kDrmModifierInvalid = 0x00ffffffffffffffULL;

std::string fourccText(uint32_t fourcc)
{
    std::string text;
    for (int k = 0; k < 4; ++k)
        text += static_cast<char>((fourcc >> (8 * k)) & 0xff);
    return text;
}

// The format of the picture the layers make together; 0 for none we know.
uint32_t pictureFormat(const AVDRMFrameDescriptor& frame)
{
    const AVDRMLayerDescriptor* layers = frame.layers;
    if (frame.nb_layers == 1)
        return layers[0].format;
    if (frame.nb_layers == 2 && layers[0].format == kDrmFormatR8 &&
        layers[1].format == kDrmFormatGr88)
        return kDrmFormatNv12;
    if (frame.nb_layers == 3 && layers[0].format == kDrmFormatR8 &&
        layers[1].format == kDrmFormatR8 && layers[2].format == kDrmFormatR8)
        return kDrmFormatYuv420;
    return 0;
}

std::string layersText(const AVDRMFrameDescriptor& frame)
{
    std::string text = "layers";
    for (int k = 0; k < frame.nb_layers && k < AV_DRM_MAX_PLANES; ++k)
        text += " " + fourccText(frame.layers[k].format);
    return text;
}

bool fitsEglInt(ptrdiff_t value)
{
    return value >= 0 && value <= std::numeric_limits<EGLint>::max();
}

// Appends the plane, and takes its object's modifier, which every plane
// must share.
bool addPlane(const AVDRMFrameDescriptor& frame, const AVDRMPlaneDescriptor& plane,
              DmaBufPicture* out, std::string* why)
{
    if (plane.object_index < 0 || plane.object_index >= frame.nb_objects ||
        !fitsEglInt(plane.offset) || !fitsEglInt(plane.pitch)) {
        *why = "a plane out of bounds";
        return false;
    }
    const AVDRMObjectDescriptor& object = frame.objects[plane.object_index];
    const bool has_modifier = object.format_modifier != kDrmModifierInvalid;
    if (out->plane_count > 0 &&
        (has_modifier != out->has_modifier || object.format_modifier != out->modifier)) {
        *why = "planes of different modifiers";
        return false;
    }
    out->has_modifier = has_modifier;
    out->modifier = object.format_modifier;
    out->planes[out->plane_count++] = {object.fd, static_cast<EGLint>(plane.offset),
                                       static_cast<EGLint>(plane.pitch)};
    return true;
}

bool addLayer(const AVDRMFrameDescriptor& frame, const AVDRMLayerDescriptor& layer,
              DmaBufPicture* out, std::string* why)
{
    if (layer.nb_planes < 1 || layer.nb_planes > DmaBufPicture::kMostPlanes - out->plane_count) {
        *why = "a layer of " + std::to_string(layer.nb_planes) + " planes";
        return false;
    }
    for (int k = 0; k < layer.nb_planes; ++k)
        if (!addPlane(frame, layer.planes[k], out, why))
            return false;
    return true;
}

} // namespace

bool describeDrmPrime(const AVFrame& picture, DmaBufPicture* described, std::string* why)
{
    const auto* frame = reinterpret_cast<const AVDRMFrameDescriptor*>(picture.data[0]);
    if (picture.format != AV_PIX_FMT_DRM_PRIME || frame == nullptr || frame->nb_objects < 1 ||
        frame->nb_objects > AV_DRM_MAX_PLANES) {
        *why = "not a DRM PRIME picture";
        return false;
    }
    DmaBufPicture out;
    out.width = picture.width;
    out.height = picture.height;
    out.fourcc = pictureFormat(*frame);
    out.colour = yuvColourOf(picture);
    if (out.fourcc == 0) {
        *why = layersText(*frame);
        return false;
    }
    for (int layer = 0; layer < frame->nb_layers; ++layer)
        if (!addLayer(*frame, frame->layers[layer], &out, why))
            return false;
    *described = out;
    return true;
}

} // namespace Spectrafox
