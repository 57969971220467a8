// YUV textures drawn by our layer and read back, against libswscale's
// accurate conversion of the same planes.
#include "platform/fixed_function/fixed_function_pipeline.h"
#include "platform/fixed_function/gl_fixed_function.h"
#include "platform/fixed_function/yuv_texture.h"
#include "support/gl_fixture.h"

#include <gtest/gtest.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace Spectrafox::Test {
namespace {

constexpr int kSurface = 64;

// A picture's planes, with padded lines as decoders give them, or (tight)
// without padding, as they go to GL uncopied.
struct Picture {
    int width, height;
    YuvLayout layout;
    std::vector<uint8_t> plane[3];
    int linesize[3] = {0, 0, 0};

    Picture(int w, int h, YuvLayout l, bool tight = false) : width(w), height(h), layout(l)
    {
        const int cw = (w + 1) / 2, ch = (h + 1) / 2;
        linesize[0] = w + (tight ? 0 : 7);
        linesize[1] = (l == YuvLayout::SemiPlanar ? 2 * cw : cw) + (tight ? 0 : 5);
        linesize[2] = l == YuvLayout::SemiPlanar ? 0 : cw + (tight ? 0 : 3);
        plane[0].assign(static_cast<size_t>(linesize[0]) * h, 0);
        plane[1].assign(static_cast<size_t>(linesize[1]) * ch, 0);
        plane[2].assign(static_cast<size_t>(linesize[2]) * ch, 0);
    }
    uint8_t& luma(int x, int y) { return plane[0][static_cast<size_t>(y) * linesize[0] + x]; }
    void setChroma(int x, int y, uint8_t cb, uint8_t cr)
    {
        if (layout == YuvLayout::SemiPlanar) {
            plane[1][static_cast<size_t>(y) * linesize[1] + 2 * x] = cb;
            plane[1][static_cast<size_t>(y) * linesize[1] + 2 * x + 1] = cr;
        } else {
            plane[1][static_cast<size_t>(y) * linesize[1] + x] = cb;
            plane[2][static_cast<size_t>(y) * linesize[2] + x] = cr;
        }
    }
    YuvPlanes planes() const
    {
        YuvPlanes p;
        p.layout = layout;
        p.width = width;
        p.height = height;
        for (int k = 0; k < 3; ++k) {
            p.data[k] = plane[k].empty() ? nullptr : plane[k].data();
            p.linesize[k] = linesize[k];
        }
        return p;
    }
};

struct Yuv {
    uint8_t y, cb, cr;
};

// An RGB colour in the matrix and range given.
Yuv yuvOf(double r, double g, double b, YuvColour colour)
{
    const double kr = colour.matrix == YuvMatrix::Bt709 ? 0.2126 : 0.299;
    const double kb = colour.matrix == YuvMatrix::Bt709 ? 0.0722 : 0.114;
    const double y = kr * r + (1 - kr - kb) * g + kb * b;
    const double cb = (b - y) / (2 * (1 - kb)), cr = (r - y) / (2 * (1 - kr));
    const bool full = colour.range == YuvRange::Full;
    auto byte = [](double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); };
    return {byte(full ? y * 255 : 16 + y * 219), byte(128 + cb * (full ? 255 : 224)),
            byte(128 + cr * (full ? 255 : 224))};
}

// Eight 75% bars of odd width, so that chroma edges fall inside a pair.
Picture colourBars(int w, int h, YuvLayout layout, YuvColour colour, bool tight = false)
{
    static const double bars[8][3] = {{.75, .75, .75}, {.75, .75, 0}, {0, .75, .75}, {0, .75, 0},
                                      {.75, 0, .75},    {.75, 0, 0},   {0, 0, .75},   {0, 0, 0}};
    Picture p(w, h, layout, tight);
    auto barAt = [&](int x) {
        const double* c = bars[std::min(7, x * 8 / w)];
        return yuvOf(c[0], c[1], c[2], colour);
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.luma(x, y) = barAt(x).y;
    for (int y = 0; y < (h + 1) / 2; ++y)
        for (int x = 0; x < (w + 1) / 2; ++x)
            p.setChroma(x, y, barAt(2 * x).cb, barAt(2 * x).cr);
    return p;
}

// Grey, with one chroma column and one chroma row saturated: the finest
// chroma edge there is, both ways. The row stays near the top: at the middle
// row of an odd height and at the last row libswscale departs from its own
// siting (it averages two chroma rows there).
Picture chromaEdge(int w, int h, YuvLayout layout)
{
    Picture p(w, h, layout);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.luma(x, y) = static_cast<uint8_t>(60 + (x * 7 + y * 5) % 120);
    for (int y = 0; y < (h + 1) / 2; ++y)
        for (int x = 0; x < (w + 1) / 2; ++x) {
            const bool edge = x == 3 || y == 1;
            p.setChroma(x, y, edge ? 220 : 128, edge ? 40 : 128);
        }
    return p;
}

std::vector<Rgba> swscaleReference(const Picture& p, YuvColour colour)
{
    const AVPixelFormat format =
        p.layout == YuvLayout::SemiPlanar ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
    SwsContext* sws = sws_getContext(p.width, p.height, format, p.width, p.height,
                                     AV_PIX_FMT_RGBA,
                                     SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                     nullptr, nullptr, nullptr);
    const int* table = sws_getCoefficients(colour.matrix == YuvMatrix::Bt709 ? SWS_CS_ITU709
                                                                              : SWS_CS_ITU601);
    sws_setColorspaceDetails(sws, table, colour.range == YuvRange::Full ? 1 : 0, table, 1, 0,
                             1 << 16, 1 << 16);
    std::vector<Rgba> rgba(static_cast<size_t>(p.width) * p.height);
    const uint8_t* src[4] = {p.plane[0].data(), p.plane[1].data(),
                             p.plane[2].empty() ? nullptr : p.plane[2].data(), nullptr};
    const int src_lines[4] = {p.linesize[0], p.linesize[1], p.linesize[2], 0};
    uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(rgba.data()), nullptr, nullptr, nullptr};
    const int dst_lines[4] = {p.width * 4, 0, 0, 0};
    sws_scale(sws, src, src_lines, 0, p.height, dst, dst_lines);
    sws_freeContext(sws);
    return rgba;
}

const float kFullQuad[12] = {-1, -1, 0, 1, -1, 0, -1, 1, 0, 1, 1, 0};
const float kFullCoords[8] = {0, 0, 1, 0, 0, 1, 1, 1};

class YuvTextureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        prepareTexturedDraws();
    }
    void TearDown() override { glViewport(0, 0, kSurface, kSurface); }

    // The picture one texel to a pixel in the lower left of the surface.
    std::vector<Rgba> drawn(const YuvTexture& texture)
    {
        glViewport(0, 0, texture.width(), texture.height());
        glClear(GL_COLOR_BUFFER_BIT);
        texture.bind();
        glVertexPointer(3, GL_FLOAT, 0, kFullQuad);
        glTexCoordPointer(2, GL_FLOAT, 0, kFullCoords);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        return readFrame(texture.width(), texture.height());
    }

    HeadlessRenderer gl{kSurface, kSurface};
};

TEST_F(YuvTextureTest, PicturesMatchSwscaleWithinTwoPerChannel)
{
    const YuvColour bt601{YuvMatrix::Bt601, YuvRange::Limited};
    const YuvColour bt709{YuvMatrix::Bt709, YuvRange::Limited};
    const YuvColour bt601_full{YuvMatrix::Bt601, YuvRange::Full};
    const YuvColour bt709_full{YuvMatrix::Bt709, YuvRange::Full};
    const struct {
        const char* name;
        Picture picture;
        YuvColour colour;
    } cases[] = {
        {"bars, BT.601 limited", colourBars(56, 16, YuvLayout::Planar, bt601), bt601},
        {"bars, BT.709 limited", colourBars(56, 16, YuvLayout::Planar, bt709), bt709},
        {"bars, BT.601 full", colourBars(56, 16, YuvLayout::Planar, bt601_full), bt601_full},
        {"bars, BT.709 full, NV12", colourBars(56, 16, YuvLayout::SemiPlanar, bt709_full),
         bt709_full},
        {"bars, odd size", colourBars(41, 13, YuvLayout::Planar, bt709), bt709},
        {"bars, tight rows, NV12", colourBars(56, 15, YuvLayout::SemiPlanar, bt709, true), bt709},
        {"chroma edge", chromaEdge(20, 12, YuvLayout::Planar), bt601},
        {"chroma edge, odd size, NV12", chromaEdge(19, 11, YuvLayout::SemiPlanar), bt601},
    };
    YuvTexture texture; // one texture: sizes and layouts change between cases
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(texture.upload(c.picture.planes(), c.colour, kSurface));
        const std::vector<Rgba> ours = drawn(texture);
        const std::vector<Rgba> reference = swscaleReference(c.picture, c.colour);
        int worst = 0, worst_x = 0, worst_y = 0;
        for (int y = 0; y < c.picture.height; ++y)
            for (int x = 0; x < c.picture.width; ++x) {
                const size_t i = static_cast<size_t>(y) * c.picture.width + x;
                const Rgba a = ours[i], b = reference[i];
                const int d = std::max({std::abs(a.r - b.r), std::abs(a.g - b.g),
                                        std::abs(a.b - b.b)});
                if (d > worst) {
                    worst = d;
                    worst_x = x;
                    worst_y = y;
                }
            }
        const size_t wi = static_cast<size_t>(worst_y) * c.picture.width + worst_x;
        EXPECT_LE(worst, 2) << "at " << worst_x << "," << worst_y << ": " << ours[wi]
                            << " against " << reference[wi];
    }
}

// One colour all over, to be told apart from RGBA draws beside it.
Picture solid(int w, int h, Yuv c)
{
    Picture p(w, h, YuvLayout::Planar);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.luma(x, y) = c.y;
    for (int y = 0; y < (h + 1) / 2; ++y)
        for (int x = 0; x < (w + 1) / 2; ++x)
            p.setChroma(x, y, c.cb, c.cr);
    return p;
}

// YUV and RGBA draws in one frame, batched or not: each keeps its own
// texture and program, the tint and alpha blending apply to the converted
// colour, texturing off draws the bare colour, and a refused upload keeps
// the last picture.
TEST_F(YuvTextureTest, YuvAndRgbaDrawsShareAFrame)
{
    const YuvColour bt709{YuvMatrix::Bt709, YuvRange::Limited};
    YuvTexture yuv;
    ASSERT_TRUE(yuv.upload(solid(8, 8, yuvOf(0.2, 0.6, 0.9, bt709)).planes(), bt709, kSurface));
    EXPECT_EQ(yuv.uploadedBytes(), 8u * 8u * 3u / 2u);
    EXPECT_FALSE(yuv.upload(solid(kSurface + 2, 4, yuvOf(1, 0, 0, bt709)).planes(), bt709,
                            kSurface));
    GLuint rgba = 0;
    glGenTextures(1, &rgba);
    glBindTexture(GL_TEXTURE_2D, rgba);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    const Rgba orange{255, 128, 0, 255};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, &orange);

    const float quad[12] = {-0.15f, -0.15f, 0, 0.15f, -0.15f, 0, -0.15f, 0.15f, 0, 0.15f, 0.15f, 0};
    auto drawAt = [&](float x, float y) {
        glPushMatrix();
        glTranslatef(x, y, 0);
        glVertexPointer(3, GL_FLOAT, 0, quad);
        glTexCoordPointer(2, GL_FLOAT, 0, kFullCoords);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glPopMatrix();
    };
    auto frame = [&](bool batching) {
        FixedFunctionPipeline::instance().setBatching(batching);
        glClear(GL_COLOR_BUFFER_BIT);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glBindTexture(GL_TEXTURE_2D, rgba);
        drawAt(-0.6f, 0);
        yuv.bind();
        glColor4f(1, 0.5f, 1, 0.5f);
        drawAt(0, 0);
        glColor4f(1, 1, 1, 1);
        drawAt(0, 0.6f);
        glDisable(GL_TEXTURE_2D);
        glColor4f(0, 1, 0, 1);
        drawAt(0, -0.6f);
        glEnable(GL_TEXTURE_2D);
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

    const int c = kSurface / 2, off = static_cast<int>(0.3 * kSurface);
    auto at = [&](int x, int y) { return batched[static_cast<size_t>(y) * kSurface + x]; };
    const Rgba picture{51, 153, 230, 255};
    EXPECT_PRED3(near, at(c - off + 1, c), orange, 0) << "RGBA before the YUV draws";
    EXPECT_PRED3(near, at(c + off - 1, c), orange, 0) << "RGBA after the YUV draws";
    EXPECT_PRED3(near, at(c, c - off), picture, 2) << "YUV, untinted";
    EXPECT_PRED3(near, at(c, c), (Rgba{26, 38, 115, 191}), 2) << "YUV, tinted, half alpha";
    EXPECT_PRED3(near, at(c, c + off), (Rgba{0, 255, 0, 255}), 0) << "texturing off";
    glDeleteTextures(1, &rgba);
}

} // namespace
} // namespace Spectrafox::Test
