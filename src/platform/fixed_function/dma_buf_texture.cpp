#include "platform/fixed_function/dma_buf_texture.h"

#include "platform/fixed_function/fixed_function_pipeline.h"
#include "platform/fixed_function/gl_fixed_function.h"

#include <GLES2/gl2ext.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace Spectrafox {

namespace {

constexpr const char* kImportExtension = "EGL_EXT_image_dma_buf_import";
constexpr const char* kModifiersExtension = "EGL_EXT_image_dma_buf_import_modifiers";
constexpr const char* kExternalTextureExtension = "GL_OES_EGL_image_external";

struct PlaneAttributes {
    EGLint fd, offset, pitch, modifier_lo, modifier_hi;
};
constexpr PlaneAttributes kPlaneAttributes[DmaBufPicture::kMostPlanes] = {
    {EGL_DMA_BUF_PLANE0_FD_EXT, EGL_DMA_BUF_PLANE0_OFFSET_EXT, EGL_DMA_BUF_PLANE0_PITCH_EXT,
     EGL_DMA_BUF_PLANE0_MODIFIER_LO_EXT, EGL_DMA_BUF_PLANE0_MODIFIER_HI_EXT},
    {EGL_DMA_BUF_PLANE1_FD_EXT, EGL_DMA_BUF_PLANE1_OFFSET_EXT, EGL_DMA_BUF_PLANE1_PITCH_EXT,
     EGL_DMA_BUF_PLANE1_MODIFIER_LO_EXT, EGL_DMA_BUF_PLANE1_MODIFIER_HI_EXT},
    {EGL_DMA_BUF_PLANE2_FD_EXT, EGL_DMA_BUF_PLANE2_OFFSET_EXT, EGL_DMA_BUF_PLANE2_PITCH_EXT,
     EGL_DMA_BUF_PLANE2_MODIFIER_LO_EXT, EGL_DMA_BUF_PLANE2_MODIFIER_HI_EXT},
    {EGL_DMA_BUF_PLANE3_FD_EXT, EGL_DMA_BUF_PLANE3_OFFSET_EXT, EGL_DMA_BUF_PLANE3_PITCH_EXT,
     EGL_DMA_BUF_PLANE3_MODIFIER_LO_EXT, EGL_DMA_BUF_PLANE3_MODIFIER_HI_EXT},
};

// Whole names only: one extension's name can begin another's.
bool listed(const char* extensions, const char* name)
{
    if (extensions == nullptr)
        return false;
    std::istringstream words(extensions);
    std::string word;
    while (words >> word)
        if (word == name)
            return true;
    return false;
}

std::string eglErrorText(EGLint error)
{
    switch (error) {
    case EGL_BAD_ACCESS: return "EGL_BAD_ACCESS";
    case EGL_BAD_ALLOC: return "EGL_BAD_ALLOC";
    case EGL_BAD_ATTRIBUTE: return "EGL_BAD_ATTRIBUTE";
    case EGL_BAD_MATCH: return "EGL_BAD_MATCH";
    case EGL_BAD_PARAMETER: return "EGL_BAD_PARAMETER";
    default: {
        std::ostringstream hex;
        hex << "EGL error 0x" << std::hex << error;
        return hex.str();
    }
    }
}

// Errors left by earlier calls are not the next one's (a few at most: each
// is a flag).
void forgetEarlierGlErrors()
{
    for (int k = 0; k < 8; ++k)
        if (glGetError() == GL_NO_ERROR)
            return;
}

// Why a display cannot take the picture; empty when it can. Without the
// modifiers extension the driver assumes its own layout, which is linear
// for the buffers that decoders share.
std::string refusalOf(const DmaBufPicture& picture, bool takes_modifiers)
{
    if (picture.has_modifier && picture.modifier != kDrmModifierLinear && !takes_modifiers)
        return "the display takes no format modifiers";
    const int most_planes = takes_modifiers ? DmaBufPicture::kMostPlanes : 3;
    if (picture.plane_count < 1 || picture.plane_count > most_planes)
        return std::to_string(picture.plane_count) + " planes";
    return "";
}

std::vector<EGLint> attributesFor(const DmaBufPicture& picture, bool takes_modifiers)
{
    std::vector<EGLint> a = {EGL_WIDTH, picture.width, EGL_HEIGHT, picture.height};
    a.insert(a.end(), {EGL_LINUX_DRM_FOURCC_EXT, static_cast<EGLint>(picture.fourcc)});
    const bool with_modifier = picture.has_modifier && takes_modifiers;
    const auto low = static_cast<EGLint>(picture.modifier & 0xffffffffu);
    const auto high = static_cast<EGLint>(picture.modifier >> 32);
    for (int k = 0; k < picture.plane_count; ++k) {
        const PlaneAttributes& names = kPlaneAttributes[k];
        const DmaBufPlane& plane = picture.planes[k];
        a.insert(a.end(),
                 {names.fd, plane.fd, names.offset, plane.offset, names.pitch, plane.pitch});
        if (with_modifier)
            a.insert(a.end(), {names.modifier_lo, low, names.modifier_hi, high});
    }
    const EGLint space =
        picture.colour.matrix == YuvMatrix::Bt709 ? EGL_ITU_REC709_EXT : EGL_ITU_REC601_EXT;
    const EGLint range =
        picture.colour.range == YuvRange::Full ? EGL_YUV_FULL_RANGE_EXT : EGL_YUV_NARROW_RANGE_EXT;
    a.insert(a.end(),
             {EGL_YUV_COLOR_SPACE_HINT_EXT, space, EGL_SAMPLE_RANGE_HINT_EXT, range, EGL_NONE});
    return a;
}

template <typename Function> Function eglEntry(const char* name)
{
    return reinterpret_cast<Function>(eglGetProcAddress(name));
}

} // namespace

EglImageCalls EglImageCalls::real()
{
    const auto create = eglEntry<PFNEGLCREATEIMAGEKHRPROC>("eglCreateImageKHR");
    const auto destroy = eglEntry<PFNEGLDESTROYIMAGEKHRPROC>("eglDestroyImageKHR");
    const auto target =
        eglEntry<PFNGLEGLIMAGETARGETTEXTURE2DOESPROC>("glEGLImageTargetTexture2DOES");
    EglImageCalls calls;
    calls.display_extensions = [](EGLDisplay d) { return eglQueryString(d, EGL_EXTENSIONS); };
    calls.context_extensions = [] {
        return reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    };
    calls.create_image = [create](EGLDisplay d, const EGLint* attributes) {
        return create(d, EGL_NO_CONTEXT, EGL_LINUX_DMA_BUF_EXT, nullptr, attributes);
    };
    calls.destroy_image = [destroy](EGLDisplay d, EGLImageKHR image) { destroy(d, image); };
    calls.image_to_texture = [target](EGLImageKHR image) {
        target(GL_TEXTURE_EXTERNAL_OES, image);
    };
    calls.last_error = [] { return eglGetError(); };
    // Missing entry points: no import is offered.
    if (create == nullptr || destroy == nullptr || target == nullptr)
        calls.display_extensions = [](EGLDisplay) { return ""; };
    return calls;
}

DmaBufImporter::DmaBufImporter(EGLDisplay egl_display, EglImageCalls egl_calls)
    : display(egl_display), calls(std::move(egl_calls))
{
    const char* display_extensions = calls.display_extensions(display);
    can_import = listed(display_extensions, kImportExtension) &&
                 listed(calls.context_extensions(), kExternalTextureExtension);
    takes_modifiers = can_import && listed(display_extensions, kModifiersExtension);
}

EGLImageKHR DmaBufImporter::createImage(const DmaBufPicture& picture, std::string* why) const
{
    *why = can_import ? refusalOf(picture, takes_modifiers)
                      : "the display or the context imports no DMA-BUFs";
    if (!why->empty())
        return EGL_NO_IMAGE_KHR;
    const std::vector<EGLint> attributes = attributesFor(picture, takes_modifiers);
    const EGLImageKHR image = calls.create_image(display, attributes.data());
    if (image == EGL_NO_IMAGE_KHR)
        *why = "eglCreateImageKHR: " + eglErrorText(calls.last_error());
    return image;
}

void DmaBufImporter::destroyImage(EGLImageKHR image) const
{
    calls.destroy_image(display, image);
}

bool DmaBufImporter::attachToBoundTexture(EGLImageKHR image, std::string* why) const
{
    forgetEarlierGlErrors();
    calls.image_to_texture(image);
    const GLenum error = glGetError();
    if (error == GL_NO_ERROR)
        return true;
    std::ostringstream text;
    text << "glEGLImageTargetTexture2DOES: GL error 0x" << std::hex << error;
    *why = text.str();
    return false;
}

DmaBufTexture::~DmaBufTexture()
{
    release();
}

bool DmaBufTexture::import(const DmaBufImporter& from, const DmaBufPicture& picture,
                           std::string* why)
{
    const EGLImageKHR imported = from.createImage(picture, why);
    if (imported == EGL_NO_IMAGE_KHR)
        return false;
    if (texture == 0)
        glGenTextures(1, &texture);
    // Through our layer: a batch waiting to sample the old image is drawn first.
    glBindTexture(GL_TEXTURE_EXTERNAL_OES, texture);
    if (!from.attachToBoundTexture(imported, why)) {
        from.destroyImage(imported);
        return false;
    }
    // The texture holds the new image now; the old one goes.
    if (image != EGL_NO_IMAGE_KHR)
        importer->destroyImage(image);
    importer = &from;
    image = imported;
    return true;
}

void DmaBufTexture::bind() const
{
    if (image != EGL_NO_IMAGE_KHR)
        FixedFunctionPipeline::instance().bindExternalTexture(texture);
}

void DmaBufTexture::release()
{
    if (texture != 0)
        glDeleteTextures(1, &texture);
    texture = 0;
    if (image != EGL_NO_IMAGE_KHR)
        importer->destroyImage(image);
    image = EGL_NO_IMAGE_KHR;
}

} // namespace Spectrafox
