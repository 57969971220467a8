#include "canvas/renderer.h"
#include "support/gl_fixture.h"

#include "platform/fixed_function/gl_fixed_function.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

// Inside the namespace the GL calls reach our layer, as in the drawing code.
namespace Spectrafox::Test {

namespace {

const Rgba kBlack{0, 0, 0, 255};
const Rgba kYellow{255, 255, 0, 255};

struct Box {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1; // inclusive
    bool empty() const { return right < 0; }
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
    double centreX() const { return (left + right + 1) / 2.0; }
    double centreY() const { return (top + bottom + 1) / 2.0; }
};

// Bounding box of everything that is not background black.
Box litBox(const std::vector<Rgba>& frame, int width, int height)
{
    Box box;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (frame[static_cast<size_t>(y) * width + x] != kBlack) {
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
            }
    return box;
}

// Pixel position of a point in projection units (y up, origin at the centre).
double toPixelX(const HeadlessRenderer& gl, float x) { return (x + 1.0) / 2.0 * gl.width(); }
double toPixelY(const HeadlessRenderer& gl, float y)
{
    const double half_height = double(gl.height()) / gl.width(); // 1 / ratio
    return (half_height - y) / (2.0 * half_height) * gl.height();
}

std::unique_ptr<Canvas> exampleCanvas(float sx, float sy)
{
    auto canvas = std::make_unique<Canvas>("CONTENT_EXAMPLE");
    canvas->setScalingX(sx);
    canvas->setScalingY(sy);
    return canvas;
}

TEST(RendererTest, CanvasCoversTheProjectedRectangleOnEveryAspect)
{
    const struct {
        int width, height;
        int left, top, right, bottom;
    } cases[] = {
        // 0.5 x 0.25 half sizes: the middle half of the width; on 16:9 the
        // height is 0.5 / 1.125 of the screen.
        {320, 180, 80, 50, 239, 129},
        {1920, 1080, 480, 300, 1439, 779},
        {320, 240, 80, 80, 239, 159},
    };
    for (const auto& c : cases) {
        HeadlessRenderer gl(c.width, c.height);
        auto canvas = exampleCanvas(0.5f, 0.25f);
        gl.renderer().drawCanvases({canvas.get()});
        const auto frame = gl.frame();
        const Box box = litBox(frame, c.width, c.height);
        EXPECT_NEAR(box.left, c.left, 1) << c.width << "x" << c.height;
        EXPECT_NEAR(box.right, c.right, 1) << c.width << "x" << c.height;
        EXPECT_NEAR(box.top, c.top, 1) << c.width << "x" << c.height;
        EXPECT_NEAR(box.bottom, c.bottom, 1) << c.width << "x" << c.height;
        EXPECT_EQ(gl.pixelAt(c.width / 2, c.height / 2), kYellow);
    }
}

TEST_F(GlTest, PositionRotationAndFlippedY)
{
    const struct {
        float x, y, rotation;
        float sx, sy;
        double centre_x, centre_y; // pixels
        int width, height;         // pixels
    } cases[] = {
        {0.0f, 0.25f, 0.0f, 0.05f, 0.05f, 160, 130, 16, 16},   // DMX y down: below the centre
        {0.0f, -0.25f, 0.0f, 0.05f, 0.05f, 160, 50, 16, 16},   // above
        {0.25f, 0.0f, 0.0f, 0.05f, 0.05f, 200, 90, 16, 16},    // right
        {-0.5f, 0.125f, 0.0f, 0.05f, 0.05f, 80, 110, 16, 16},
        {0.0f, 0.0f, 90.0f, 0.25f, 0.05f, 160, 90, 16, 80},    // turned upright
        {0.0f, 0.0f, 0.0f, 0.25f, 0.05f, 160, 90, 80, 16},
    };
    for (const auto& c : cases) {
        auto canvas = exampleCanvas(c.sx, c.sy);
        canvas->setPositionX(c.x);
        canvas->setPositionY(c.y);
        canvas->setRotation(c.rotation);
        gl.renderer().drawCanvases({canvas.get()});
        const Box box = litBox(gl.frame(), gl.width(), gl.height());
        EXPECT_NEAR(box.centreX(), c.centre_x, 1.0) << c.x << "," << c.y;
        EXPECT_NEAR(box.centreY(), c.centre_y, 1.0) << c.x << "," << c.y;
        EXPECT_NEAR(box.width(), c.width, 1) << c.x << "," << c.y << " rot " << c.rotation;
        EXPECT_NEAR(box.height(), c.height, 1) << c.x << "," << c.y << " rot " << c.rotation;
    }
}

// Copies in projection units (y up) from the ring centre.
struct Offset {
    float x, y;
};

TEST_F(GlTest, RingOfCopiesInBothModes)
{
    const float ratio = 320.0f / 180.0f;
    const struct {
        int zoom_type;
        unsigned int number;
        float rotation_all;
        std::vector<Offset> copies;
        float position_x = 0.0f, position_y = 0.0f; // the ring centre, DMX y down
    } cases[] = {
        // Mode 1, an ellipse of radii 2*zoom and 2*zoom/ratio: j = 0..3 are
        // left, below, right, above.
        {1, 4, 0.0f, {{-0.5f, 0}, {0, -0.5f / ratio}, {0.5f, 0}, {0, 0.5f / ratio}}},
        {0, 4, 0.0f, {{-0.5f, 0}, {0, -0.5f / ratio}, {0.5f, 0}, {0, 0.5f / ratio}}},
        {3, 4, 0.0f, {{-0.5f, 0}, {0, -0.5f / ratio}, {0.5f, 0}, {0, 0.5f / ratio}}},
        {1, 1, 0.0f, {{-0.5f, 0}}},
        {1, 1, 90.0f, {{0, -0.5f / ratio}}}, // the ring turns counter-clockwise on screen
        // Mode 2, a circle of radius zoom.
        {2, 4, 0.0f, {{-0.25f, 0}, {0, -0.25f}, {0.25f, 0}, {0, 0.25f}}},
        {2, 1, 90.0f, {{0, -0.25f}}},
        {2, 2, 180.0f, {{0.25f, 0}, {-0.25f, 0}}},
        {1, 1, 0.0f, {{0.25f - 0.5f, -0.125f}}, 0.25f, 0.125f},
        {2, 1, 0.0f, {{0.25f - 0.25f, -0.125f}}, 0.25f, 0.125f},
    };
    for (const auto& c : cases) {
        gl.renderer().setZoom(c.zoom_type);
        auto canvas = exampleCanvas(0.02f, 0.02f);
        canvas->setNumber(c.number);
        canvas->setZoom(0.25f);
        canvas->setRotationAll(c.rotation_all);
        canvas->setPositionX(c.position_x);
        canvas->setPositionY(c.position_y);
        gl.renderer().drawCanvases({canvas.get()});
        const auto frame = gl.frame();
        int lit = 0;
        for (const Rgba& p : frame)
            lit += p != kBlack;
        // Each copy is about 6.4 x 6.4 pixels; nothing else is lit.
        EXPECT_GE(lit, int(c.number) * 36) << "mode " << c.zoom_type;
        EXPECT_LE(lit, int(c.number) * 49) << "mode " << c.zoom_type;
        for (const Offset& o : c.copies) {
            const int x = int(toPixelX(gl, o.x));
            const int y = int(toPixelY(gl, o.y));
            EXPECT_EQ(frame[static_cast<size_t>(y) * gl.width() + x], kYellow)
                << "mode " << c.zoom_type << " n " << c.number << " copy at " << o.x << "," << o.y;
        }
        EXPECT_EQ(gl.pixelAt(int(toPixelX(gl, c.position_x)), int(toPixelY(gl, -c.position_y))),
                  kBlack)
            << "mode " << c.zoom_type;
    }
}

// Mode 2 turns each copy onto the circle and back: copies keep their own
// orientation instead of following the ring.
TEST_F(GlTest, CircularRingKeepsCopiesUpright)
{
    gl.renderer().setZoom(2);
    auto canvas = exampleCanvas(0.1f, 0.02f);
    canvas->setNumber(1);
    canvas->setZoom(0.25f);
    canvas->setRotationAll(90.0f); // the one copy sits below the centre
    gl.renderer().drawCanvases({canvas.get()});
    const Box box = litBox(gl.frame(), gl.width(), gl.height());
    EXPECT_NEAR(box.width(), 32, 1);
    EXPECT_NEAR(box.height(), 6, 1);
    EXPECT_NEAR(box.centreY(), toPixelY(gl, -0.25f), 1.0);
}

TEST_F(GlTest, ClosedShutterDrawsNothingButStillSetsContent)
{
    auto canvas = exampleCanvas(0.5f, 0.25f);
    canvas->setShutterSpeed(255);
    canvas->frameStep();
    canvas->frameStep();
    ASSERT_EQ(canvas->getShutterState(), 1);
    glBindTexture(GL_TEXTURE_2D, 0);
    gl.renderer().drawCanvases({canvas.get()});
    EXPECT_TRUE(litBox(gl.frame(), gl.width(), gl.height()).empty());
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_NE(bound, 0) << "the example plug-in's setContent binds its texture";

    canvas->setNumber(5);
    canvas->setZoom(0.25f);
    gl.renderer().drawCanvases({canvas.get()});
    EXPECT_TRUE(litBox(gl.frame(), gl.width(), gl.height()).empty()) << "ring behind the shutter";
}

TEST_F(GlTest, NoCanvasesGiveABlackFrame)
{
    auto canvas = exampleCanvas(1.0f, 1.0f);
    gl.renderer().drawCanvases({canvas.get()});
    ASSERT_EQ(gl.pixelAt(5, 5), kYellow);
    gl.renderer().drawCanvases({});
    const auto frame = gl.frame();
    EXPECT_EQ(std::count(frame.begin(), frame.end(), kBlack), long(frame.size()));
}

// Batched draws are drawn before the swap: what is cleared behind the
// layer's back after it is gone, and nothing comes back at the next read.
TEST_F(GlTest, AFrameIsCompleteWhenItIsShown)
{
    auto canvas = exampleCanvas(1.0f, 1.0f);
    canvas->setNumber(3);
    gl.renderer().drawCanvases({canvas.get()});
    ::glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_EQ(gl.pixelAt(gl.width() / 2, gl.height() / 2), kBlack);
}

TEST_F(GlTest, HalfTransparentCanvasMixesWithTheOneBelow)
{
    // An unregistered type binds nothing, so both canvases use this white
    // texture; the colour array tints it.
    const unsigned char white[4] = {255, 255, 255, 255};
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);

    Canvas below("NOT_REGISTERED");
    Canvas above("NOT_REGISTERED");
    above.setScalingX(0.25f);
    above.setScalingY(0.25f);
    above.setR(0.0f);
    above.setG(0.0f);
    above.setB(1.0f);
    above.setAlpha(0.5f);
    gl.renderer().drawCanvases({&below, &above});
    EXPECT_TRUE(near(gl.pixelAt(160, 90), Rgba{128, 128, 255, 191}, 2)) << gl.pixelAt(160, 90);
    EXPECT_EQ(gl.pixelAt(10, 10), (Rgba{255, 255, 255, 255}));

    // Order matters: drawn first, the half-transparent one is covered.
    gl.renderer().drawCanvases({&above, &below});
    EXPECT_EQ(gl.pixelAt(160, 90), (Rgba{255, 255, 255, 255}));
    glDeleteTextures(1, &texture);
}

TEST_F(GlTest, NegativeHeightTakesTheContentRatio)
{
    const struct {
        const char* type;
        float sx;
        int width, height; // pixels; one unit is 160 pixels here
    } cases[] = {
        {"CONTENT_EXAMPLE", 0.5f, 160, 160}, // a 1 x 1 texel: square
        {"CONTENT_EXAMPLE", 0.25f, 80, 80},
        {"NOT_REGISTERED", 0.25f, 80, 80},   // the ratio stays 1.0
    };
    for (const auto& c : cases) {
        Canvas canvas(c.type);
        canvas.setScalingX(c.sx);
        canvas.setScalingY(-1.0f);
        gl.renderer().drawCanvases({&canvas});
        const Box box = litBox(gl.frame(), gl.width(), gl.height());
        EXPECT_NEAR(box.width(), c.width, 1) << c.type << " " << c.sx;
        EXPECT_NEAR(box.height(), c.height, 1) << c.type << " " << c.sx;
    }
}

TEST(RendererAngleTest, WrapsLikeTheCanvas)
{
    for (float angle : {-720.0f, -1.0f, 0.0f, 359.5f, 360.0f, 1000.0f})
        EXPECT_EQ(Renderer::correctAngleRange(angle), Canvas::correctAngleRange(angle)) << angle;
}

} // namespace

} // namespace Spectrafox::Test
