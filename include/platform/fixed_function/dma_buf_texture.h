#pragma once

#include "platform/fixed_function/yuv_texture.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES2/gl2.h>

#include <cstdint>
#include <functional>
#include <string>

namespace Spectrafox {

constexpr uint32_t drmFourcc(char a, char b, char c, char d)
{
    return static_cast<uint32_t>(a) | static_cast<uint32_t>(b) << 8 |
           static_cast<uint32_t>(c) << 16 | static_cast<uint32_t>(d) << 24;
}
constexpr uint32_t kDrmFormatNv12 = drmFourcc('N', 'V', '1', '2');
constexpr uint32_t kDrmFormatYuv420 = drmFourcc('Y', 'U', '1', '2');
constexpr uint64_t kDrmModifierLinear = 0;

struct DmaBufPlane {
    int fd = -1;
    EGLint offset = 0;
    EGLint pitch = 0;
};

// A picture in DMA-BUFs as a decoder hands it over (row 0 is its top row):
// DRM fourcc, planes, the layout modifier they share if there is one, and
// the colour its samples are in.
struct DmaBufPicture {
    static constexpr int kMostPlanes = 4;
    int width = 0;
    int height = 0;
    uint32_t fourcc = 0;
    int plane_count = 0;
    DmaBufPlane planes[kMostPlanes];
    bool has_modifier = false;
    uint64_t modifier = 0;
    YuvColour colour;
};

// The EGL and GL entry points that an import uses; real() reaches the
// driver's. A test hands in its own.
struct EglImageCalls {
    std::function<const char*(EGLDisplay)> display_extensions;
    std::function<const char*()> context_extensions;
    // eglCreateImageKHR of an EGL_LINUX_DMA_BUF_EXT image, no context.
    std::function<EGLImageKHR(EGLDisplay, const EGLint* attributes)> create_image;
    std::function<void(EGLDisplay, EGLImageKHR)> destroy_image;
    // glEGLImageTargetTexture2DOES onto the bound GL_TEXTURE_EXTERNAL_OES.
    std::function<void(EGLImageKHR)> image_to_texture;
    std::function<EGLint()> last_error;

    static EglImageCalls real();
};

// Whether the display and the current context import DMA-BUFs as external
// textures (asked once, when made), and the imports themselves.
class DmaBufImporter {
public:
    explicit DmaBufImporter(EGLDisplay display, EglImageCalls calls = EglImageCalls::real());

    bool canImport() const { return can_import; }
    bool takesModifiers() const { return takes_modifiers; }

    // EGL_NO_IMAGE_KHR, with the reason in `why`, when refused.
    EGLImageKHR createImage(const DmaBufPicture& picture, std::string* why) const;
    void destroyImage(EGLImageKHR image) const;
    // Makes the image the contents of the bound external texture.
    bool attachToBoundTexture(EGLImageKHR image, std::string* why) const;

private:
    EGLDisplay display;
    EglImageCalls calls;
    bool can_import = false;
    bool takes_modifiers = false;
};

// A picture sampled where the decoder left it: an EGLImage of its DMA-BUFs
// as a GL_TEXTURE_EXTERNAL_OES texture. Bound, it stands where a 2-D
// texture stands, with the coordinates of the video path (row 0 at the
// bottom), tint, alpha and blending. The buffers must stay unchanged while
// the picture is shown. Only the main thread's context.
class DmaBufTexture {
public:
    DmaBufTexture() = default;
    ~DmaBufTexture();
    DmaBufTexture(const DmaBufTexture&) = delete;
    DmaBufTexture& operator=(const DmaBufTexture&) = delete;

    // Replaces the picture; false, keeping the last one, with the reason
    // in `why`, when the driver refuses it. The importer outlives the image.
    bool import(const DmaBufImporter& importer, const DmaBufPicture& picture, std::string* why);
    void bind() const;
    // Deletes the texture and destroys the image (the context must be current).
    void release();
    bool holdsImage() const { return image != EGL_NO_IMAGE_KHR; }

private:
    const DmaBufImporter* importer = nullptr;
    EGLImageKHR image = EGL_NO_IMAGE_KHR;
    GLuint texture = 0;
};

} // namespace Spectrafox
