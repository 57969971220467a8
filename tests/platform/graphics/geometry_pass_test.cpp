// The picture shaped for the surface, read back: region, keystone warp,
// soft edges and mask, each against what it must be computed here.
#include "support/gl_fixture.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <thread>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Spectrafox::Test {

namespace {

constexpr int kWidth = 320, kHeight = 180;
constexpr double kHalfHeight = double(kHeight) / kWidth; // stage units, no region

std::unique_ptr<Canvas> yellowSquare(double u, double v, float half_size)
{
    auto canvas = std::make_unique<Canvas>("CONTENT_EXAMPLE");
    canvas->setScalingX(half_size);
    canvas->setScalingY(half_size);
    // Stage fractions (y down) to DMX units (x right, y down, centre 0).
    canvas->setPositionX(static_cast<float>(2.0 * u - 1.0));
    canvas->setPositionY(static_cast<float>((2.0 * v - 1.0) * kHalfHeight));
    return canvas;
}

std::unique_ptr<Canvas> fullYellow() { return yellowSquare(0.5, 0.5, 1.0f); }

std::vector<std::unique_ptr<Canvas>> fullFrame()
{
    std::vector<std::unique_ptr<Canvas>> out;
    out.push_back(fullYellow());
    return out;
}

using Map = std::function<std::pair<double, double>(double, double)>;

// The square-to-quad homography in closed form, corners in the order
// (0,0) (1,0) (1,1) (0,1). With `inverse`, from the quad back to the
// square: two linear equations in u and v.
Map homographyOf(const double q[4][2], bool inverse = false)
{
    const double dx1 = q[1][0] - q[2][0], dx2 = q[3][0] - q[2][0], dx3 = q[0][0] - q[1][0] + q[2][0] - q[3][0];
    const double dy1 = q[1][1] - q[2][1], dy2 = q[3][1] - q[2][1], dy3 = q[0][1] - q[1][1] + q[2][1] - q[3][1];
    const double g = (dx3 * dy2 - dx2 * dy3) / (dx1 * dy2 - dx2 * dy1);
    const double k = (dx1 * dy3 - dx3 * dy1) / (dx1 * dy2 - dx2 * dy1);
    const double h[8] = {q[1][0] - q[0][0] + g * q[1][0], q[3][0] - q[0][0] + k * q[3][0], q[0][0],
                         q[1][1] - q[0][1] + g * q[1][1], q[3][1] - q[0][1] + k * q[3][1], q[0][1], g, k};
    if (inverse)
        return [=](double x, double y) {
            const double a11 = h[0] - h[6] * x, a12 = h[1] - h[7] * x, b1 = x - h[2];
            const double a21 = h[3] - h[6] * y, a22 = h[4] - h[7] * y, b2 = y - h[5];
            const double det = a11 * a22 - a12 * a21;
            return std::make_pair((b1 * a22 - a12 * b2) / det, (a11 * b2 - b1 * a21) / det);
        };
    return [=](double u, double v) {
        const double w = h[6] * u + h[7] * v + 1;
        return std::make_pair((h[0] * u + h[1] * v + h[2]) / w, (h[3] * u + h[4] * v + h[5]) / w);
    };
}

// The soft edge as the technician's manual states it.
double rampLevel(double t, double p, double gamma)
{
    const double f = t < 0.5 ? 0.5 * std::pow(2 * t, p) : 1 - 0.5 * std::pow(2 * (1 - t), p);
    return 255.0 * std::pow(f, 1.0 / gamma);
}

// Centre of the lit pixels within `radius` of (x, y).
std::pair<double, double> litCentreNear(const std::vector<Rgba>& frame, double x, double y, int radius)
{
    double sx = 0, sy = 0, n = 0;
    for (int py = int(y) - radius; py <= int(y) + radius; ++py)
        for (int px = int(x) - radius; px <= int(x) + radius; ++px)
            if (px >= 0 && py >= 0 && px < kWidth && py < kHeight && frame[py * kWidth + px].r > 128) {
                sx += px + 0.5;
                sy += py + 0.5;
                n += 1;
            }
    return n > 0 ? std::make_pair(sx / n, sy / n) : std::make_pair(-1.0, -1.0);
}

Geometry withLines(const std::vector<std::string>& lines)
{
    Geometry geometry;
    for (const std::string& line : lines) {
        std::string refusal;
        EXPECT_TRUE(geometry.applyLine(line, &refusal)) << line;
        EXPECT_EQ(refusal, "") << line;
    }
    return geometry;
}

std::shared_ptr<const MaskPicture> maskFile(const std::string& path)
{
    auto mask = std::make_shared<MaskPicture>();
    std::string why;
    EXPECT_TRUE(MaskPicture::load(path, mask.get(), &why)) << why;
    return mask;
}

struct Case {
    const char* name;
    std::vector<std::string> lines;
    std::function<std::vector<std::unique_ptr<Canvas>>()> canvases;
    std::function<void(const std::vector<Rgba>&)> check;
    std::function<std::shared_ptr<const MaskPicture>(const TempDir&)> mask = nullptr;
};

} // namespace

TEST(GeometryPassTest, ShapesThePictureAsComputedIndependently)
{
    const double quad[4][2] = {{0.12, 0.05}, {0.93, 0.18}, {0.80, 0.95}, {0.04, 0.78}};
    const auto warp = homographyOf(quad);
    const auto unwarp = homographyOf(quad, true);
    // No symmetry: a mirrored picture must not pass.
    const std::vector<std::pair<double, double>> dots = {{0.2, 0.15}, {0.5, 0.3},  {0.8, 0.2},
                                                         {0.3, 0.6},  {0.7, 0.7},  {0.45, 0.85}};
    const Case cases[] = {
        {"keystone: dots land where the homography puts them",
         {"WARP=0.12,0.05 0.93,0.18 0.80,0.95 0.04,0.78"},
         [&] {
             std::vector<std::unique_ptr<Canvas>> out;
             for (const auto& dot : dots)
                 out.push_back(yellowSquare(dot.first, dot.second, 0.015f));
             return out;
         },
         [&](const std::vector<Rgba>& frame) {
             for (const auto& dot : dots) {
                 const auto at = warp(dot.first, dot.second);
                 const auto found = litCentreNear(frame, at.first * kWidth, at.second * kHeight, 8);
                 EXPECT_NEAR(found.first, at.first * kWidth, 1.0) << dot.first << "," << dot.second;
                 EXPECT_NEAR(found.second, at.second * kHeight, 1.0) << dot.first << "," << dot.second;
             }
         }},
        {"soft edges on white, corners multiply",
         {"BLEND_LEFT=0.25", "BLEND_TOP=0.4", "BLEND_CURVE=3", "BLEND_GAMMA=1.8"},
         fullFrame,
         [](const std::vector<Rgba>& frame) {
             const int y = kHeight - 1; // outside the top zone
             for (int x = 0; x < kWidth; x += 3) {
                 const double u = (x + 0.5) / kWidth;
                 const double expected = u < 0.25 ? rampLevel(u / 0.25, 3, 1.8) : 255.0;
                 EXPECT_NEAR(frame[y * kWidth + x].r, expected, 2.0) << "x " << x;
             }
             for (int y2 = 0; y2 < kHeight; y2 += 7) {
                 const double v = (y2 + 0.5) / kHeight, u = 10.5 / kWidth;
                 const double across = rampLevel(u / 0.25, 3, 1.8) / 255.0;
                 const double down = v < 0.4 ? rampLevel(v / 0.4, 3, 1.8) / 255.0 : 1.0;
                 EXPECT_NEAR(frame[y2 * kWidth + 10].g, 255.0 * across * down, 2.0) << "y " << y2;
             }
         }},
        {"keystone: soft edge follows it, black outside the quadrilateral",
         {"WARP=0.12,0.05 0.93,0.18 0.80,0.95 0.04,0.78", "BLEND_RIGHT=0.3"},
         fullFrame,
         [&](const std::vector<Rgba>& frame) {
             EXPECT_EQ(frame[2 * kWidth + 2], (Rgba{0, 0, 0, 255}));
             EXPECT_EQ(frame[(kHeight - 3) * kWidth + kWidth - 3], (Rgba{0, 0, 0, 255}));
             EXPECT_EQ(frame[(kHeight / 2) * kWidth + kWidth / 2], (Rgba{255, 255, 0, 255}));
             for (int x = 150; x < kWidth; x += 4) {
                 const auto uv = unwarp((x + 0.5) / kWidth, 90.5 / kHeight);
                 if (uv.first < 0.02 || uv.first > 0.98)
                     continue; // the quad's edge: half covered pixels
                 const double expected = uv.first > 0.7 ? rampLevel((1 - uv.first) / 0.3, 2, 2.2) : 255.0;
                 EXPECT_NEAR(frame[90 * kWidth + x].r, expected, 2.0) << "x " << x;
             }
         }},
        {"region: the right half of a stage twice as wide",
         {"REGION=0.5,0,0.5,1"},
         [] { // stage x 0.5 units right of centre, half size 0.05 units
             std::vector<std::unique_ptr<Canvas>> out;
             out.push_back(yellowSquare(0.75, 0.5, 0.05f));
             return out;
         },
         [](const std::vector<Rgba>& frame) {
             // The stage is 640x180: units of 320 pixels, square.
             int left = kWidth, right = -1, top = kHeight, bottom = -1;
             for (int y = 0; y < kHeight; ++y)
                 for (int x = 0; x < kWidth; ++x)
                     if (frame[y * kWidth + x].r > 128) {
                         left = std::min(left, x), right = std::max(right, x);
                         top = std::min(top, y), bottom = std::max(bottom, y);
                     }
             EXPECT_NEAR(left, 160 - 16, 1);
             EXPECT_NEAR(right, 160 + 15, 1);
             EXPECT_NEAR(top, 90 - 16, 1);
             EXPECT_NEAR(bottom, 90 + 15, 1);
         }},
        {"mask from alpha: in output pixels, after the warp",
         {"WARP=0.4,0 1,0 1,1 0,1", "MASK=mask.png"},
         fullFrame,
         [](const std::vector<Rgba>& frame) {
             // The mask's clear part ends at 0.44 of the output's width; the
             // warped picture's left edge lies near 0.36 up here, so in the
             // region's own coordinates 0.6 would still be clear.
             EXPECT_EQ(frame[18 * kWidth + 134].r, 0);
             EXPECT_NEAR(frame[18 * kWidth + 192].r, 255, 1);
             EXPECT_NEAR(frame[160 * kWidth + 100].g, 255, 1);
         },
         [](const TempDir& dir) {
             // White everywhere: only the alpha can mask. Top row: four
             // clear, four opaque; bottom row opaque.
             std::vector<uint32_t> rgba(16, 0xFFFFFFFF);
             std::fill(rgba.begin(), rgba.begin() + 4, 0xFFFFFF00);
             writePng(dir.file("mask.png"), 8, 2, rgba);
             return maskFile(dir.file("mask.png"));
         }},
        {"mask from luminance: grey halves the light",
         {"MASK=mask.png"},
         fullFrame,
         [](const std::vector<Rgba>& frame) {
             EXPECT_NEAR(frame[90 * kWidth + 40].r, 128, 2);
             EXPECT_NEAR(frame[90 * kWidth + 280].r, 255, 1);
         },
         [](const TempDir& dir) {
             const unsigned char rgb[] = {128, 128, 128, 128, 128, 128, 255, 255, 255, 255, 255, 255};
             stbi_write_png(dir.file("mask.png").c_str(), 4, 1, 3, rgb, 4 * 3);
             return maskFile(dir.file("mask.png"));
         }},
    };
    HeadlessRenderer gl(kWidth, kHeight);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        gl.renderer().setGeometry(withLines(c.lines), c.mask ? c.mask(dir) : nullptr);
        const auto canvases = c.canvases();
        std::vector<Canvas*> drawn;
        for (const auto& canvas : canvases)
            drawn.push_back(canvas.get());
        gl.renderer().drawCanvases(drawn);
        c.check(gl.frame());
    }
}

// Without geometry keys the frame is today's to the byte, with no extra
// pass; a region alone moves the projection and needs no pass either.
TEST(GeometryPassTest, NoKeysLeaveTheFrameAsItWas)
{
    const auto draw = [](HeadlessRenderer& gl) {
        auto turned = yellowSquare(0.3, 0.6, 0.2f);
        turned->setRotation(33.0f);
        turned->setAlpha(0.6f);
        auto ring = yellowSquare(0.6, 0.4, 0.05f);
        ring->setNumber(5);
        ring->setZoom(0.2f);
        gl.renderer().drawCanvases({turned.get(), ring.get()});
        return gl.frame();
    };
    HeadlessRenderer gl(kWidth, kHeight);
    const std::vector<Rgba> before = draw(gl);
    for (const char* line : {"TEST_PATTERN=0", "REGION=0,0,1,1", "BLEND_LEFT=0", "WARP=0,0 1,0 1,1 0,1"}) {
        gl.renderer().setGeometry(withLines({line}), nullptr);
        EXPECT_TRUE(draw(gl) == before) << line;
        EXPECT_FALSE(gl.renderer().shapesFrames()) << line;
    }
    gl.renderer().setGeometry(withLines({"REGION=0.25,0.25,0.5,0.5"}), nullptr);
    draw(gl);
    EXPECT_FALSE(gl.renderer().shapesFrames());
}

// geometry.txt's watcher hands geometry over while frames are drawn: the
// frame after the last hand-over shows the last geometry, whole.
TEST(GeometryPassTest, GeometryHandedOverWhileDrawingArrivesWhole)
{
    HeadlessRenderer gl(kWidth, kHeight);
    const Geometry left_edge = withLines({"BLEND_LEFT=0.5", "REGION=0,0,0.5,1"});
    const Geometry keystone = withLines({"WARP=0.1,0 1,0 1,1 0,1"});
    auto canvas = fullYellow();
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        for (int i = 0; i < 40; ++i)
            gl.renderer().setGeometry(i % 2 ? keystone : left_edge, nullptr);
        done = true;
    });
    while (!done)
        gl.renderer().drawCanvases({canvas.get()});
    watcher.join();
    gl.renderer().drawCanvases({canvas.get()});
    EXPECT_EQ(gl.renderer().getScreenRatio(), float(kWidth) / kHeight);
    // Black left of the keystone's top-left corner, full light in the middle.
    EXPECT_EQ(gl.pixelAt(10, 2), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(gl.pixelAt(160, 90), (Rgba{255, 255, 0, 255}));
}

} // namespace Spectrafox::Test
