#include "platform/graphics/display_options.h"
#include "platform/graphics/frame_snapshot.h"
#include "support/gl_fixture.h"
#include "support/temp_dir.h"

#include <EGL/eglext.h>
#include "platform/fixed_function/gl_fixed_function.h"
#include <gtest/gtest.h>
#include <stb_image.h>

#include <cstring>
#include <string>

// Inside the namespace the GL calls reach our layer, as in the drawing code.
namespace Spectrafox::Test {

namespace {

EGLint configAttribute(EGLDisplay display, EGLContext context, EGLint attribute)
{
    EGLint id = 0;
    eglQueryContext(display, context, EGL_CONFIG_ID, &id);
    const EGLint wanted[] = {EGL_CONFIG_ID, id, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint found = 0;
    eglChooseConfig(display, wanted, &config, 1, &found);
    EGLint value = -1;
    if (found == 1)
        eglGetConfigAttrib(display, config, attribute, &value);
    return value;
}

TEST(GraphicsPlatformTest, HeadlessRendererHoldsARealGles11ContextAtTheChosenSize)
{
    for (const auto& size : {std::make_pair(320, 180), std::make_pair(1920, 1080)}) {
        HeadlessRenderer gl(size.first, size.second);
        EXPECT_EQ(gl.renderer().getScreenWidth(), size.first);
        EXPECT_EQ(gl.renderer().getScreenHeight(), size.second);
        EXPECT_FLOAT_EQ(gl.renderer().getScreenRatio(), float(size.first) / float(size.second));

        ASSERT_NE(gl.display(), EGL_NO_DISPLAY);
        ASSERT_NE(gl.context(), EGL_NO_CONTEXT);
        EGLSurface surface = eglGetCurrentSurface(EGL_DRAW);
        EGLint w = 0, h = 0;
        eglQuerySurface(gl.display(), surface, EGL_WIDTH, &w);
        eglQuerySurface(gl.display(), surface, EGL_HEIGHT, &h);
        EXPECT_EQ(w, size.first);
        EXPECT_EQ(h, size.second);
        // An ES 2.0 context, or a later ES that keeps 2.0 (Mesa gives 3.x);
        // never the 1.x common profile ("OpenGL ES-CM").
        const std::string version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        EXPECT_EQ(version.rfind("OpenGL ES ", 0), 0u) << version;
        EXPECT_GE(std::atoi(version.c_str() + 10), 2) << version;
        for (EGLint attribute : {EGL_RED_SIZE, EGL_GREEN_SIZE, EGL_BLUE_SIZE, EGL_ALPHA_SIZE})
            EXPECT_EQ(configAttribute(gl.display(), gl.context(), attribute), 8);
        EXPECT_GE(configAttribute(gl.display(), gl.context(), EGL_DEPTH_SIZE), 16);
    }
}

// The video player turns textures into EGL images with these very handles.
TEST(GraphicsPlatformTest, HandlesSupportTextureImages)
{
    HeadlessRenderer gl;
    const std::string extensions = eglQueryString(gl.display(), EGL_EXTENSIONS);
    ASSERT_NE(extensions.find("EGL_KHR_gl_texture_2D_image"), std::string::npos) << extensions;
    auto create = reinterpret_cast<PFNEGLCREATEIMAGEKHRPROC>(eglGetProcAddress("eglCreateImageKHR"));
    auto destroy =
        reinterpret_cast<PFNEGLDESTROYIMAGEKHRPROC>(eglGetProcAddress("eglDestroyImageKHR"));
    ASSERT_TRUE(create && destroy);

    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 64, 64, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    EGLImageKHR image = create(gl.display(), gl.context(), EGL_GL_TEXTURE_2D_KHR,
                               reinterpret_cast<EGLClientBuffer>(static_cast<uintptr_t>(texture)),
                               nullptr);
    EXPECT_NE(image, EGL_NO_IMAGE_KHR) << std::hex << eglGetError();
    if (image != EGL_NO_IMAGE_KHR)
        destroy(gl.display(), image);
    glDeleteTextures(1, &texture);
}

TEST(GraphicsPlatformTest, RenderersCanFollowOneAnother)
{
    for (int round = 0; round < 3; ++round) {
        HeadlessRenderer gl(64, 32);
        glClearColor(0, 1, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        EXPECT_EQ(gl.pixelAt(10, 10), (Rgba{0, 255, 0, 255}));
    }
}

TEST(FrameSnapshotTest, WritesTheFramebufferTopRowFirst)
{
    HeadlessRenderer gl(40, 20);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    ::glEnable(GL_SCISSOR_TEST);
    glScissor(0, 10, 40, 10); // GL rows 10..19: the top half on screen
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    ::glDisable(GL_SCISSOR_TEST);

    TempDir dir;
    const std::string path = dir.file("shot.png");
    ASSERT_TRUE(FrameSnapshot::writePng(path, 40, 20));
    int w = 0, h = 0, n = 0;
    unsigned char* png = stbi_load(path.c_str(), &w, &h, &n, 4);
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 20);
    EXPECT_EQ(png[0], 255);                 // top-left is red
    EXPECT_EQ(png[2], 0);
    EXPECT_EQ(png[(19 * 40) * 4 + 2], 255); // bottom-left is blue
    EXPECT_EQ(png[(19 * 40) * 4 + 0], 0);
    stbi_image_free(png);

    EXPECT_FALSE(FrameSnapshot::writePng(dir.file("missing/dir/shot.png"), 40, 20));
}

// The projector ignores framebuffer alpha: a half-transparent framebuffer
// must give the same colours in the file, fully opaque.
TEST(FrameSnapshotTest, WritesOpaqueRgbWhateverTheFramebufferAlpha)
{
    struct Case {
        float r, g, b, a;
        unsigned char expected[3];
    };
    const Case cases[] = {
        {1.0f, 0.5f, 0.0f, 0.5f, {255, 128, 0}},
        {0.2f, 0.4f, 0.6f, 0.0f, {51, 102, 153}},
        {0.0f, 0.0f, 0.0f, 1.0f, {0, 0, 0}},
    };
    HeadlessRenderer gl(8, 4);
    TempDir dir;
    for (const Case& c : cases) {
        glClearColor(c.r, c.g, c.b, c.a);
        glClear(GL_COLOR_BUFFER_BIT);
        const std::string path = dir.file("shot.png");
        ASSERT_TRUE(FrameSnapshot::writePng(path, 8, 4));
        int w = 0, h = 0, n = 0;
        unsigned char* png = stbi_load(path.c_str(), &w, &h, &n, 0);
        ASSERT_NE(png, nullptr);
        EXPECT_EQ(n, 3) << "channels in the file";
        for (int i = 0; i < w * h; ++i)
            for (int k = 0; k < 3; ++k)
                ASSERT_NEAR(png[i * n + k], c.expected[k], 1) << "pixel " << i << " channel " << k;
        stbi_image_free(png);
    }
}

TEST(FrameSnapshotTest, NumberedPaths)
{
    const struct {
        const char* path;
        long frame;
        const char* expected;
    } cases[] = {
        {"snapshot.png", 42, "snapshot-000042.png"},
        {"out/shot.png", 7, "out/shot-000007.png"},
        {"dir.v2/shot", 3, "dir.v2/shot-000003"},
        {"shot", 1234567, "shot-1234567"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FrameSnapshot::numberedPath(c.path, c.frame), c.expected) << c.path;
}

TEST(DisplayOptionsTest, CommandLineSwitches)
{
    using Parse = DisplayOptions::Parse;
    const struct {
        const char* argument;
        Parse result;
        int headless_w, headless_h, window_w, window_h, snapshot_frame, fps_cap;
        const char* snapshot_path;
    } cases[] = {
        {"--headless=1920x1080", Parse::Applied, 1920, 1080, 0, 0, 0, 60, "snapshot.png"},
        {"--window=640x360", Parse::Applied, 0, 0, 640, 360, 0, 60, "snapshot.png"},
        {"--snapshot-frame=5", Parse::Applied, 0, 0, 0, 0, 5, 60, "snapshot.png"},
        {"--snapshot=/tmp/a.png", Parse::Applied, 0, 0, 0, 0, 0, 60, "/tmp/a.png"},
        {"--fps-cap=0", Parse::Applied, 0, 0, 0, 0, 0, 0, "snapshot.png"},
        {"--fps-cap=25", Parse::Applied, 0, 0, 0, 0, 0, 25, "snapshot.png"},
        {"--headless=1920", Parse::Malformed, 0, 0, 0, 0, 0, 60, "snapshot.png"},
        {"--headless=0x100", Parse::Malformed, 0, 0, 0, 0, 0, 60, "snapshot.png"},
        {"--headless=100x", Parse::Malformed, 0, 0, 0, 0, 0, 60, "snapshot.png"},
        {"--headless=-5x100", Parse::Malformed, 0, 0, 0, 0, 0, 60, "snapshot.png"},
        {"--headless=100x100x", Parse::Malformed, 0, 0, 0, 0, 0, 60, "snapshot.png"},
        {"--headless=99999x100", Parse::Malformed, 0, 0, 0, 0, 0, 60, "snapshot.png"},
        {"--window=abc", Parse::Malformed, 0, 0, 0, 0, 0, 60, "snapshot.png"},
        {"--snapshot-frame=0", Parse::Malformed, 0, 0, 0, 0, 0, 60, "snapshot.png"},
        {"--snapshot-frame=3x", Parse::Malformed, 0, 0, 0, 0, 0, 60, "snapshot.png"},
        {"--snapshot=", Parse::Malformed, 0, 0, 0, 0, 0, 60, "snapshot.png"},
        {"--fps-cap=-1", Parse::Malformed, 0, 0, 0, 0, 0, 60, "snapshot.png"},
        {"--headless", Parse::NotOurs, 0, 0, 0, 0, 0, 60, "snapshot.png"},
        {"--headlessly=1x1", Parse::NotOurs, 0, 0, 0, 0, 0, 60, "snapshot.png"},
        {"--silent", Parse::NotOurs, 0, 0, 0, 0, 0, 60, "snapshot.png"},
    };
    for (const auto& c : cases) {
        DisplayOptions options;
        EXPECT_EQ(options.applyArgument(c.argument), c.result) << c.argument;
        EXPECT_EQ(options.headless_width, c.headless_w) << c.argument;
        EXPECT_EQ(options.headless_height, c.headless_h) << c.argument;
        EXPECT_EQ(options.window_width, c.window_w) << c.argument;
        EXPECT_EQ(options.window_height, c.window_h) << c.argument;
        EXPECT_EQ(options.snapshot_frame, c.snapshot_frame) << c.argument;
        EXPECT_EQ(options.offscreen_fps_cap, c.fps_cap) << c.argument;
        EXPECT_EQ(options.snapshot_path, c.snapshot_path) << c.argument;
    }
}

} // namespace

} // namespace Spectrafox::Test
