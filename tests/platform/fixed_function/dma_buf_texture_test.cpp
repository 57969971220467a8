// Imported pictures drawn by our layer and read back: upright with the video
// path's coordinates, tinted and blended like any texture, batched or not,
// and a real DMA-BUF import the same as the plane upload where one can be had.
#include "platform/fixed_function/dma_buf_texture.h"
#include "platform/fixed_function/fixed_function_pipeline.h"
#include "platform/fixed_function/gl_fixed_function.h"
#include "support/gl_fixture.h"

#include <gtest/gtest.h>

#include <GLES2/gl2ext.h>
#include <fcntl.h>
#include <linux/udmabuf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace Spectrafox::Test {
namespace {

constexpr int kSurface = 64;
const float kFullQuad[8] = {-1, -1, 1, -1, -1, 1, 1, 1};
const float kVideoCoords[8] = {0, 0, 1, 0, 0, 1, 1, 1}; // row 0 at the bottom

struct Fd {
    int fd;
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
};

class DmaBufTextureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        prepareTexturedDraws();
        glTexCoordPointer(2, GL_FLOAT, 0, kVideoCoords);
    }

    // The quad scaled by a quarter around (x, y).
    void drawAt(float x, float y, float scale = 0.25f)
    {
        glPushMatrix();
        glTranslatef(x, y, 0);
        const float s[16] = {scale, 0, 0, 0, 0, scale, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        glMultMatrixf(s);
        glVertexPointer(2, GL_FLOAT, 0, kFullQuad);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glPopMatrix();
    }

    HeadlessRenderer gl{kSurface, kSurface};
};

// The real calls, except that the image is made from a GL texture: an
// external texture of known pixels where no DMA-BUF can be had.
EglImageCalls imagesOf(GLuint source)
{
    EglImageCalls calls = EglImageCalls::real();
    calls.display_extensions = [](EGLDisplay) { return "EGL_EXT_image_dma_buf_import"; };
    calls.context_extensions = [] { return "GL_OES_EGL_image_external"; };
    const auto create =
        reinterpret_cast<PFNEGLCREATEIMAGEKHRPROC>(eglGetProcAddress("eglCreateImageKHR"));
    calls.create_image = [create, source](EGLDisplay display, const EGLint*) {
        const EGLint level[] = {EGL_GL_TEXTURE_LEVEL_KHR, 0, EGL_NONE};
        return create(display, eglGetCurrentContext(), EGL_GL_TEXTURE_2D_KHR,
                      reinterpret_cast<EGLClientBuffer>(static_cast<uintptr_t>(source)), level);
    };
    return calls;
}

GLuint textureOf(int width, int height, const std::vector<Rgba>& top_row_first)
{
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 top_row_first.data());
    return name;
}

TEST_F(DmaBufTextureTest, ImportedPicturesDrawUprightTintedAndBatchedLikeAnyTexture)
{
    const char* extensions = eglQueryString(gl.display(), EGL_EXTENSIONS);
    if (std::strstr(extensions, "EGL_KHR_gl_texture_2D_image") == nullptr)
        GTEST_SKIP() << "the display makes no images of GL textures";
    const Rgba red{255, 0, 0, 255}, blue{0, 0, 255, 255}, orange{255, 128, 0, 255};
    std::vector<Rgba> rows(8, blue);
    std::fill(rows.begin(), rows.begin() + 4, red); // the picture's top half
    const GLuint source = textureOf(1, 8, rows);
    const GLuint rgba = textureOf(1, 1, {orange});
    DmaBufImporter importer(gl.display(), imagesOf(source));
    DmaBufPicture any; // the attributes go nowhere
    any.plane_count = 1;
    DmaBufTexture picture;
    std::string why;
    ASSERT_TRUE(picture.import(importer, any, &why)) << why;

    auto frame = [&](bool batching) {
        FixedFunctionPipeline::instance().setBatching(batching);
        glClear(GL_COLOR_BUFFER_BIT);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glBindTexture(GL_TEXTURE_2D, rgba);
        drawAt(-0.6f, 0);
        picture.bind();
        drawAt(0, 0.6f);
        glColor4f(1, 0.5f, 1, 0.5f);
        drawAt(0, 0);
        glColor4f(1, 1, 1, 1);
        glBindTexture(GL_TEXTURE_2D, rgba);
        drawAt(0.6f, 0);
        glDisable(GL_BLEND);
        std::vector<Rgba> pixels = gl.frame();
        FixedFunctionPipeline::instance().setBatching(true);
        return pixels;
    };
    const std::vector<Rgba> batched = frame(true);
    EXPECT_EQ(batched, frame(false));
    auto at = [&](int x, int y) { return batched[static_cast<size_t>(y) * kSurface + x]; };
    const int c = kSurface / 2, off = static_cast<int>(0.3 * kSurface), quarter = kSurface / 16;
    EXPECT_EQ(at(c - off + 1, c), orange) << "RGBA before";
    EXPECT_EQ(at(c + off - 1, c), orange) << "RGBA after";
    EXPECT_EQ(at(c, c - off - quarter), red) << "the picture's top is on top";
    EXPECT_EQ(at(c, c - off + quarter), blue);
    EXPECT_PRED3(near, at(c, c - quarter), (Rgba{128, 0, 0, 191}), 2) << "tinted, half alpha";
    picture.release();
    glDeleteTextures(1, &source);
    glDeleteTextures(1, &rgba);
}

// Four quadrants of BT.601 NV12 in a udmabuf, imported and drawn, against the
// same planes uploaded: within 2 levels, away from the edges where the
// driver may site chroma otherwise.
TEST_F(DmaBufTextureTest, ARealImportShowsWhatThePlaneUploadShows)
{
    DmaBufImporter importer(gl.display());
    if (!importer.canImport())
        GTEST_SKIP() << "the display or the context imports no DMA-BUFs";
    const Fd device{open("/dev/udmabuf", O_RDWR | O_CLOEXEC)};
    if (device.fd < 0)
        GTEST_SKIP() << "/dev/udmabuf: " << std::strerror(errno) << ": no DMA-BUF to import";
    constexpr int w = 32, h = 32, kBytes = 4096;
    const Fd memory{memfd_create("picture", MFD_ALLOW_SEALING | MFD_CLOEXEC)};
    ASSERT_EQ(ftruncate(memory.fd, kBytes), 0);
    ASSERT_EQ(fcntl(memory.fd, F_ADD_SEALS, F_SEAL_SHRINK), 0);
    auto* bytes = static_cast<uint8_t*>(
        mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_SHARED, memory.fd, 0));
    ASSERT_NE(bytes, MAP_FAILED);
    const uint8_t quadrants[4][3] = {{81, 90, 240}, {145, 54, 34}, {41, 240, 110}, {180, 128, 128}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* q = quadrants[(y >= h / 2) * 2 + (x >= w / 2)];
            bytes[y * w + x] = q[0];
            if (y % 2 == 0 && x % 2 == 0)
                std::memcpy(bytes + w * h + (y / 2) * w + x, q + 1, 2);
        }
    YuvPlanes planes;
    planes.layout = YuvLayout::SemiPlanar;
    planes.width = w;
    planes.height = h;
    planes.data[0] = bytes;
    planes.data[1] = bytes + w * h;
    planes.linesize[0] = planes.linesize[1] = w;
    YuvTexture uploaded;
    const YuvColour bt601{YuvMatrix::Bt601, YuvRange::Limited};
    ASSERT_TRUE(uploaded.upload(planes, bt601, kSurface));
    munmap(bytes, kBytes);
    udmabuf_create create{static_cast<uint32_t>(memory.fd), UDMABUF_FLAGS_CLOEXEC, 0, kBytes};
    const Fd buffer{ioctl(device.fd, UDMABUF_CREATE, &create)};
    ASSERT_GE(buffer.fd, 0) << std::strerror(errno);
    DmaBufPicture described;
    described.width = w;
    described.height = h;
    described.fourcc = kDrmFormatNv12;
    described.plane_count = 2;
    described.planes[0] = {buffer.fd, 0, w};
    described.planes[1] = {buffer.fd, w * h, w};
    described.has_modifier = importer.takesModifiers();
    described.modifier = kDrmModifierLinear;
    described.colour = bt601;
    DmaBufTexture imported;
    std::string why;
    if (!imported.import(importer, described, &why))
        GTEST_SKIP() << "the import was refused: " << why;
    auto drawn = [&](auto& texture) {
        glClear(GL_COLOR_BUFFER_BIT);
        texture.bind();
        drawAt(-0.5f, 0.5f, 0.5f); // the top left 32 x 32 pixels
        return gl.frame();
    };
    const std::vector<Rgba> ours = drawn(imported), reference = drawn(uploaded);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (std::abs(x - w / 2) <= 2 || std::abs(y - h / 2) <= 2)
                continue;
            const size_t i = static_cast<size_t>(y) * kSurface + x;
            ASSERT_PRED3(near, ours[i], reference[i], 2) << "at " << x << "," << y;
        }
    imported.release();
}

} // namespace
} // namespace Spectrafox::Test
