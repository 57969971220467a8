// The fixed-function calls of our drawing code, drawn on OpenGL ES 2.0 and
// read back: where things land, what colour they get, what is blended.
#include "platform/fixed_function/fixed_function_pipeline.h"
#include "platform/fixed_function/gl_fixed_function.h"
#include "platform/fixed_function/matrix_stack.h"
#include "support/gl_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <vector>

// Inside the namespace the calls reach our layer, as in the drawing code.
namespace Spectrafox::Test {
namespace {

constexpr int kSize = 128;
const Rgba kBlack{0, 0, 0, 255};

// A square of half size 0.25 at the origin, with one colour and the full
// texture on it (texel row 0 at the bottom).
struct Quad {
    float vertices[12] = {-0.25f, -0.25f, 0, 0.25f, -0.25f, 0, -0.25f, 0.25f, 0, 0.25f, 0.25f, 0};
    float colors[16];
    float coords[8] = {0, 0, 1, 0, 0, 1, 1, 1};
    explicit Quad(float r = 1, float g = 1, float b = 1, float a = 1)
    {
        for (int v = 0; v < 4; ++v) {
            colors[v * 4 + 0] = r;
            colors[v * 4 + 1] = g;
            colors[v * 4 + 2] = b;
            colors[v * 4 + 3] = a;
        }
    }
    void use()
    {
        glEnableClientState(GL_VERTEX_ARRAY);
        glVertexPointer(3, GL_FLOAT, 0, vertices);
        glEnableClientState(GL_COLOR_ARRAY);
        glColorPointer(4, GL_FLOAT, 0, colors);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, 0, coords);
    }
};

class GlFixedFunctionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glGenTextures(1, &texture);
    }
    void TearDown() override { glDeleteTextures(1, &texture); }

    // Width x 1 texels, nearest filtering.
    void upload(const std::vector<Rgba>& texels)
    {
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, static_cast<GLsizei>(texels.size()), 1, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, texels.data());
    }
    void draw() { glDrawArrays(GL_TRIANGLE_STRIP, 0, 4); }
    Rgba centre() const { return gl.pixelAt(kSize / 2, kSize / 2); }

    HeadlessRenderer gl{kSize, kSize};
    GLuint texture = 0;
};

uint8_t level(double unit)
{
    return static_cast<uint8_t>(std::lround(std::clamp(unit, 0.0, 1.0) * 255.0));
}

// Window pixel of a point in clip units: x from the left, y from the top.
double pixelX(double x) { return (x + 1.0) / 2.0 * kSize; }
double pixelY(double y) { return (1.0 - y) / 2.0 * kSize; }

struct Box {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1; // inclusive
};

Box litBox(const std::vector<Rgba>& frame)
{
    Box box;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            if (frame[static_cast<size_t>(y) * kSize + x] != kBlack) {
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
            }
    return box;
}

struct Corner {
    double x, y;
};

// The quad's corners under projection P = diag(px, py) and a model-view of
// translation (tx, ty) after rotation by `degrees`: P (T (R v)).
std::vector<Corner> cornersOf(double px, double py, double tx, double ty, double degrees)
{
    const double a = degrees * M_PI / 180.0;
    std::vector<Corner> corners;
    for (const Corner v : {Corner{-0.25, -0.25}, Corner{0.25, -0.25}, Corner{-0.25, 0.25},
                           Corner{0.25, 0.25}}) {
        const double rx = std::cos(a) * v.x - std::sin(a) * v.y;
        const double ry = std::sin(a) * v.x + std::cos(a) * v.y;
        corners.push_back({px * (tx + rx), py * (ty + ry)});
    }
    return corners;
}

TEST_F(GlFixedFunctionTest, MatrixStacksPlaceTheCornersWhereFixedFunctionDid)
{
    const struct {
        const char* name;
        std::function<void()> transform; // on the model-view stack
        double tx, ty, degrees;          // the net model-view it should leave
    } cases[] = {
        {"translate", [] { glTranslatef(0.3f, -0.2f, 0.0f); }, 0.3, -0.2, 0},
        {"push, translate, rotate",
         [] {
             glPushMatrix();
             glTranslatef(0.3f, -0.2f, 0.0f);
             glRotatef(30.0f, 0.0f, 0.0f, 1.0f);
         },
         0.3, -0.2, 30},
        {"rotate turns a later translation",
         [] {
             glRotatef(90.0f, 0.0f, 0.0f, 1.0f);
             glTranslatef(0.4f, 0.0f, 0.0f);
             glRotatef(-90.0f, 0.0f, 0.0f, 1.0f);
         },
         0.0, 0.4, 0},
        {"the ring step: rotate, translate, rotate back, own rotation",
         [] {
             glTranslatef(0.1f, 0.1f, 0.0f);
             glRotatef(120.0f, 0.0f, 0.0f, 1.0f);
             glTranslatef(-0.4f, 0.0f, 0.0f);
             glRotatef(-120.0f, 0.0f, 0.0f, 1.0f);
             glRotatef(20.0f, 0.0f, 0.0f, 1.0f);
         },
         0.1 + 0.2, 0.1 - 0.4 * std::sin(120.0 * M_PI / 180.0), 20},
        {"pop undoes the inner push only",
         [] {
             glTranslatef(-0.5f, 0.0f, 0.0f);
             glPushMatrix();
             glRotatef(45.0f, 0.0f, 0.0f, 1.0f);
             glTranslatef(0.7f, 0.7f, 0.0f);
             glPopMatrix();
         },
         -0.5, 0.0, 0},
    };
    // A projection with different x and y scales shows an axis mix-up.
    const float projection[16] = {0.5f, 0, 0, 0, 0, 1.5f, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};
    Quad quad;
    quad.use();
    glDisable(GL_TEXTURE_2D);
    for (const auto& c : cases) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMultMatrixf(projection);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClear(GL_COLOR_BUFFER_BIT);
        c.transform();
        draw();
        Box want;
        for (const Corner& corner : cornersOf(0.5, 1.5, c.tx, c.ty, c.degrees)) {
            want.left = std::min(want.left, int(std::lround(pixelX(corner.x))));
            want.right = std::max(want.right, int(std::lround(pixelX(corner.x))) - 1);
            want.top = std::min(want.top, int(std::lround(pixelY(corner.y))));
            want.bottom = std::max(want.bottom, int(std::lround(pixelY(corner.y))) - 1);
        }
        const Box got = litBox(gl.frame());
        EXPECT_NEAR(got.left, want.left, 1) << c.name;
        EXPECT_NEAR(got.right, want.right, 1) << c.name;
        EXPECT_NEAR(got.top, want.top, 1) << c.name;
        EXPECT_NEAR(got.bottom, want.bottom, 1) << c.name;
    }
}

TEST_F(GlFixedFunctionTest, ColourTextureAndBlendingFollowTheFixedFunctionRules)
{
    const Rgba texel{200, 100, 50, 255};
    const struct {
        const char* name;
        bool texturing;
        float r, g, b, a;
        Rgba clear; // what is below
        Rgba expected;
    } cases[] = {
        {"modulate: texel times colour", true, 0.5f, 1.0f, 0.25f, 1.0f, kBlack,
         {level(200 / 255.0 * 0.5), 100, level(50 / 255.0 * 0.25), 255}},
        {"texturing off: the vertex colour", false, 0.2f, 0.4f, 0.6f, 1.0f, kBlack,
         {51, 102, 153, 255}},
        {"colours clamp to 0..1 first", true, 2.0f, -1.0f, 1.0f, 1.0f, kBlack, {200, 0, 50, 255}},
        {"source alpha over what is below", false, 1.0f, 0.0f, 0.0f, 0.25f, Rgba{0, 0, 255, 255},
         {64, 0, 191, level(0.25 * 0.25 + 0.75)}},
        {"modulated alpha blends too", true, 1.0f, 1.0f, 1.0f, 0.5f, Rgba{255, 255, 255, 255},
         {level(0.5 * 200 / 255.0 + 0.5), level(0.5 * 100 / 255.0 + 0.5),
          level(0.5 * 50 / 255.0 + 0.5), level(0.25 + 0.5)}},
    };
    upload({texel});
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    for (const auto& c : cases) {
        Quad quad(c.r, c.g, c.b, c.a);
        quad.use();
        if (c.texturing)
            glEnable(GL_TEXTURE_2D);
        else
            glDisable(GL_TEXTURE_2D);
        glClearColor(c.clear.r / 255.0f, c.clear.g / 255.0f, c.clear.b / 255.0f, c.clear.a / 255.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        draw();
        EXPECT_TRUE(near(centre(), c.expected, 1)) << c.name << ": " << centre();
        EXPECT_EQ(gl.pixelAt(2, 2), c.clear) << c.name << ": outside the quad";
    }
}

TEST_F(GlFixedFunctionTest, CurrentColourStandsInWhenTheColourArrayIsOff)
{
    Quad quad(1, 0, 0, 1);
    quad.use();
    glDisable(GL_TEXTURE_2D);
    glDisableClientState(GL_COLOR_ARRAY);
    glColor4f(0.0f, 1.0f, 0.0f, 1.0f);
    draw();
    EXPECT_EQ(centre(), (Rgba{0, 255, 0, 255}));
    glEnableClientState(GL_COLOR_ARRAY);
    draw();
    EXPECT_EQ(centre(), (Rgba{255, 0, 0, 255}));
}

// The drawing code sets its arrays once and rewrites them in place; each
// draw must see the contents of that moment.
TEST_F(GlFixedFunctionTest, ArraysAreReadAtDrawTimeFromThePointerSetLast)
{
    upload({{255, 0, 0, 255}, {0, 0, 255, 255}});
    glEnable(GL_TEXTURE_2D);
    Quad quad;
    quad.use();
    const struct {
        float u; // the same u at every vertex picks one texel
        Rgba expected;
    } steps[] = {{0.25f, {255, 0, 0, 255}}, {0.75f, {0, 0, 255, 255}}, {0.25f, {255, 0, 0, 255}}};
    for (const auto& step : steps) {
        for (int v = 0; v < 4; ++v)
            quad.coords[v * 2] = step.u;
        glClear(GL_COLOR_BUFFER_BIT);
        draw();
        EXPECT_EQ(centre(), step.expected) << "u " << step.u;
    }

    // Vertices and colours too; and a pointer set again replaces the old one.
    quad.vertices[0] = quad.vertices[6] = 0.0f; // left edge to the centre
    glDisable(GL_TEXTURE_2D);
    for (int i = 0; i < 16; ++i)
        quad.colors[i] = i % 4 == 3 ? 1.0f : 0.5f;
    glClear(GL_COLOR_BUFFER_BIT);
    draw();
    EXPECT_EQ(gl.pixelAt(kSize / 2 - 8, kSize / 2), kBlack);
    EXPECT_TRUE(near(gl.pixelAt(kSize / 2 + 8, kSize / 2), Rgba{128, 128, 128, 255}, 1));

    Quad other(0, 1, 1, 1);
    glColorPointer(4, GL_FLOAT, 0, other.colors);
    void* pointer = nullptr;
    glGetPointerv(GL_COLOR_ARRAY_POINTER, &pointer);
    EXPECT_EQ(pointer, other.colors);
    glGetPointerv(GL_TEXTURE_COORD_ARRAY_POINTER, &pointer);
    EXPECT_EQ(pointer, quad.coords);
    glClear(GL_COLOR_BUFFER_BIT);
    draw();
    EXPECT_EQ(gl.pixelAt(kSize / 2 + 8, kSize / 2), (Rgba{0, 255, 255, 255}));
}

// Strips wait in a batch until the texture or state changes. Each case draws
// quad A on the left, changes something, draws quad B on the right, and
// must give the frame that drawing each at once gives: the change must not
// reach back to A.
TEST_F(GlFixedFunctionTest, BatchedDrawsLookAsIfDrawnAtOnce)
{
    GLuint blue_texture = 0;
    glGenTextures(1, &blue_texture);
    const Rgba red{255, 0, 0, 255};
    const Rgba blue{0, 0, 255, 255};
    const auto bindBlue = [&] {
        glBindTexture(GL_TEXTURE_2D, blue_texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, &blue);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    };
    Quad quad(1, 1, 1, 0.5f);
    // Red at half alpha over black; alpha 0.5 * 0.5 + 0.5 * 1.
    const Rgba half_red{128, 0, 0, 191};
    const struct {
        const char* name;
        std::function<void()> change;
        Rgba a, b; // at the quads' centres
    } cases[] = {
        {"another texture", bindBlue, half_red, {0, 0, 128, 191}},
        {"the same texture rewritten",
         [&] { glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, &blue); },
         half_red, {0, 0, 128, 191}},
        {"texturing off", [] { glDisable(GL_TEXTURE_2D); }, half_red, {128, 128, 128, 191}},
        {"blending off", [] { glDisable(GL_BLEND); }, half_red, {255, 0, 0, 128}},
        {"blend function", [] { glBlendFunc(GL_ZERO, GL_ONE); }, half_red, kBlack},
        {"projection",
         [] {
             const float squeeze[16] = {1, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
             glMatrixMode(GL_PROJECTION);
             glMultMatrixf(squeeze);
             glMatrixMode(GL_MODELVIEW);
         },
         half_red, half_red},
        {"current colour",
         [] {
             glDisableClientState(GL_COLOR_ARRAY);
             glColor4f(0, 0, 0, 0.5f);
         },
         half_red, {0, 0, 0, 191}},
        {"colour array rewritten in place",
         [&] {
             for (int v = 0; v < 4; ++v)
                 quad.colors[v * 4] = 0.0f;
         },
         half_red, {0, 0, 0, 191}},
        {"clear", [] { glClear(GL_COLOR_BUFFER_BIT); }, kBlack, half_red},
        {"read-back, then a clear behind the layer's back",
         [] {
             Rgba ignored;
             glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &ignored);
             ::glClear(GL_COLOR_BUFFER_BIT);
         },
         kBlack, half_red},
    };
    const auto drawCase = [&](const auto& c, bool batching) {
        FixedFunctionPipeline::instance().setBatching(batching);
        upload({red});
        glEnable(GL_TEXTURE_2D);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        quad = Quad(1, 1, 1, 0.5f);
        quad.use();
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClear(GL_COLOR_BUFFER_BIT);
        glTranslatef(-0.5f, 0.0f, 0.0f);
        draw();
        c.change();
        glTranslatef(1.0f, 0.0f, 0.0f);
        draw();
        return gl.frame();
    };
    for (const auto& c : cases) {
        const std::vector<Rgba> at_once = drawCase(c, false);
        const std::vector<Rgba> batched = drawCase(c, true);
        EXPECT_TRUE(batched == at_once) << c.name;
        EXPECT_TRUE(near(gl.pixelAt(kSize / 4, kSize / 2), c.a, 1))
            << c.name << ": A " << gl.pixelAt(kSize / 4, kSize / 2);
        EXPECT_TRUE(near(gl.pixelAt(kSize * 3 / 4, kSize / 2), c.b, 1))
            << c.name << ": B " << gl.pixelAt(kSize * 3 / 4, kSize / 2);
    }
    glDeleteTextures(1, &blue_texture);
}

TEST_F(GlFixedFunctionTest, StackMisuseIsIgnoredAndDrawingGoesOn)
{
    Quad quad(1, 1, 1, 1);
    quad.use();
    glDisable(GL_TEXTURE_2D);
    const struct {
        const char* name;
        GLenum mode;
        int pushes, pops;
    } cases[] = {
        {"pop on an empty model-view stack", GL_MODELVIEW, 0, 3},
        {"pop on an empty projection stack", GL_PROJECTION, 0, 3},
        {"push past the depth bound", GL_MODELVIEW, MatrixStack::kMaxDepth + 10, 0},
        {"push past it and pop back further", GL_MODELVIEW, MatrixStack::kMaxDepth + 10,
         MatrixStack::kMaxDepth + 20},
        {"projection past the bound and back", GL_PROJECTION, 100, 100},
    };
    for (const auto& c : cases) {
        glMatrixMode(c.mode);
        glLoadIdentity();
        for (int i = 0; i < c.pushes; ++i) {
            glPushMatrix();
            glTranslatef(0.01f, 0.0f, 0.0f);
        }
        for (int i = 0; i < c.pops; ++i)
            glPopMatrix();
        // Balanced or not, the bottom matrix is still the identity.
        for (int i = 0; i < MatrixStack::kMaxDepth; ++i)
            glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        glClear(GL_COLOR_BUFFER_BIT);
        draw();
        const Box box = litBox(gl.frame());
        EXPECT_NEAR(box.left, kSize * 3 / 8, 1) << c.name;
        EXPECT_NEAR(box.right, kSize * 5 / 8 - 1, 1) << c.name;
        EXPECT_NEAR(box.top, kSize * 3 / 8, 1) << c.name;
    }
}

TEST_F(GlFixedFunctionTest, AcceptedNoOpsLeaveNoGlError)
{
    while (glGetError() != GL_NO_ERROR) {
    }
    glShadeModel(GL_FLAT);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_2D);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glMatrixMode(GL_PROJECTION);
    glMatrixMode(GL_MODELVIEW);
    Quad quad;
    quad.use();
    draw();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

} // namespace
} // namespace Spectrafox::Test
