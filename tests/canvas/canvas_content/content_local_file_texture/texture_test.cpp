#include "canvas/canvas_content/content_local_file_texture/texture.h"

#include <gtest/gtest.h>

#include "base/show_time.h"

#include "platform/fixed_function/gl_fixed_function.h"
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "canvas/canvas.h"
#include "support/gl_fixture.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

// Inside the namespace the GL calls reach our layer, as in the drawing code.
namespace Spectrafox::Test {

namespace {

// ---- Pure timing rules ----

TEST(GifTimingTest, FrameChoiceFollowsCumulativeEndTimes)
{
    const int ends[] = {10, 30, 60}; // delays 10, 20, 30
    const struct {
        double clock;
        int frame;
    } cases[] = {{0, 0}, {10, 0}, {10.5, 1}, {30, 1}, {30.01, 2}, {60, 2}};
    for (const auto& c : cases)
        EXPECT_EQ(Texture::chooseGifFrame(ends, 3, c.clock), c.frame) << c.clock;
    EXPECT_EQ(Texture::chooseGifFrame(ends, 3, Texture::wrapGifTime(61, 60)), 0);
}

TEST(GifTimingTest, LastFrameOfDelayZeroIsNeverChosen)
{
    const int ends[] = {10, 10}; // delays 10, 0
    for (double clock = -5; clock <= 100; clock += 0.25)
        EXPECT_EQ(Texture::chooseGifFrame(ends, 2, Texture::wrapGifTime(clock, 10)), 0) << clock;
}

TEST(GifTimingTest, WrappingKeepsTheCycleEndAndNeverLoopsForLong)
{
    const struct {
        double in;
        int cycle;
        double out;
    } cases[] = {{0, 60, 0},     {60, 60, 60},  {61, 60, 1},          {120, 60, 60},
                 {125, 60, 5},   {-3, 60, -3},  {50, 0, 50},          {7, 0, 7},
                 // years of uptime in hundredths of a second: one step, not billions
                 {1.0e13 + 30, 60, 10}};
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(Texture::wrapGifTime(c.in, c.cycle), c.out) << c.in;
}

// ---- Slots drawn for real ----

constexpr uint32_t kRed = 0xFF0000FF, kBlue = 0x0000FFFF;

// Draws the slot's picture over the whole 64x64 surface, white and opaque,
// and returns what ends up on screen.
class SlotDrawing : public ::testing::Test {
protected:
    void SetUp() override { glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_texture_size); }

    Rgba drawAndRead(Texture& slot, int x = 32, int y = 32)
    {
        static const GLfloat quad[] = {-1, -1, 0, 1, -1, 0, -1, 1, 0, 1, 1, 0};
        static const GLfloat white[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glVertexPointer(3, GL_FLOAT, 0, quad);
        glColorPointer(4, GL_FLOAT, 0, white);
        glClear(GL_COLOR_BUFFER_BIT);
        slot.setTexture();
        Spectrafox::glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        return gl.pixelAt(x, y);
    }

    std::unique_ptr<Texture> slot(int number, Texture::Clock clock = &Texture::monotonicSeconds)
    {
        return std::make_unique<Texture>(number, nullptr, upright, flipped,
                                         SlotPicture::load(number, dir.path() + "/"), clock);
    }

    TempDir dir;
    HeadlessRenderer gl{64, 64};
    GLint max_texture_size = 0;
    GLfloat upright[8] = {0, 1, 1, 1, 0, 0, 1, 0};
    GLfloat flipped[8] = {0, 0, 1, 0, 0, 1, 1, 1};
};

TEST_F(SlotDrawing, EveryUnusableFileShowsItsOwnErrorTexelWithRatioOne)
{
    dir.write("002.png", "this is no picture");
    dir.write("003.gif", "GIF89a, but then nothing");
    dir.write("004.h264", "no video either");
    writeSolidPng(dir.file("005.png"), 300, 200, kRed);
    declarePngSize(dir.file("005.png"), 1, 1); // its data inflates past that
    const struct {
        int slot;
        Rgba seen; // the texel blended over black: colour x alpha
    } cases[] = {
        {1, {0, 0, 0, 0}},    // no file: fully transparent
        {2, {63, 0, 63, 0}},  // undecodable PNG: faint magenta
        {3, {0, 63, 63, 0}},  // undecodable GIF: faint cyan
        {4, {63, 63, 0, 0}},  // video whose size is unknown: faint yellow
        {5, {63, 0, 63, 0}},  // PNG inflating past its header: faint magenta
    };
    for (const auto& c : cases) {
        auto texture = slot(c.slot);
        EXPECT_EQ(texture->getTextureType(), TEX_NONE) << c.slot;
        EXPECT_FLOAT_EQ(texture->getTextureRatio(), 1.0f) << c.slot;
        const Rgba seen = drawAndRead(*texture);
        EXPECT_TRUE(near(Rgba{seen.r, seen.g, seen.b, 0}, c.seen, 2)) << c.slot << ": " << seen;
    }
}

TEST_F(SlotDrawing, VideoWithoutAFreeDecoderShowsFaintRedWithRatioOne)
{
    ASSERT_TRUE(writeSolidH264(dir.file("005.h264"), 320, 240, "green"));
    auto texture = slot(5); // no player at all: no decoder is free
    EXPECT_EQ(texture->getTextureType(), TEX_NONE);
    EXPECT_FLOAT_EQ(texture->getTextureRatio(), 1.0f);
    const Rgba seen = drawAndRead(*texture);
    EXPECT_TRUE(near(Rgba{seen.r, seen.g, seen.b, 0}, Rgba{63, 0, 0, 0}, 2)) << seen;
}

TEST_F(SlotDrawing, PngIsShownUprightWithItsRatio)
{
    // Top row red, bottom row blue.
    writePng(dir.file("006.png"), 2, 2, {kRed, kRed, kBlue, kBlue});
    auto texture = slot(6);
    EXPECT_EQ(texture->getTextureType(), TEX_PNG);
    EXPECT_FLOAT_EQ(texture->getTextureRatio(), 1.0f);
    EXPECT_EQ(drawAndRead(*texture, 32, 8), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(drawAndRead(*texture, 32, 56), (Rgba{0, 0, 255, 255}));
}

// RGBA pixels in C memory, as the decoders hand them out.
unsigned char* solidPixels(int width, int height, const unsigned char rgba[4])
{
    const size_t count = static_cast<size_t>(width) * height;
    auto* pixels = static_cast<unsigned char*>(std::malloc(count * 4));
    for (size_t i = 0; i < count; ++i)
        std::memcpy(pixels + i * 4, rgba, 4);
    return pixels;
}

SlotPicture handMade(SlotKind kind, int width = 0, int height = 0)
{
    SlotPicture picture;
    picture.kind = kind;
    picture.width = width;
    picture.height = height;
    return picture;
}

TEST_F(SlotDrawing, EveryPictureKindAndStateEndsInItsSlotKind)
{
    static const unsigned char green[4] = {0, 255, 0, 255};
    const struct {
        const char* name;
        std::function<SlotPicture()> make;
        TEXTURE_TYPE type;
        float ratio;
        Rgba seen; // blended over black, alpha left out
    } cases[] = {
        {"not looked at: the slot looks itself (no ./textures here)",
         [] { return SlotPicture(); }, TEX_NONE, 1.0f, {0, 0, 0, 0}},
        {"no file", [] { return handMade(SlotKind::Missing); }, TEX_NONE, 1.0f, {0, 0, 0, 0}},
        {"decoded PNG", [] {
             SlotPicture p = handMade(SlotKind::Png, 4, 2);
             p.pixels = solidPixels(4, 2, green);
             return p;
         }, TEX_PNG, 0.5f, {0, 255, 0, 0}},
        {"undecodable PNG", [] { return handMade(SlotKind::Png); }, TEX_NONE, 1.0f,
         {63, 0, 63, 0}},
        {"decoded GIF", [] {
             SlotPicture p = handMade(SlotKind::Gif, 2, 4);
             auto** list = static_cast<unsigned char**>(std::malloc(sizeof(unsigned char*)));
             list[0] = solidPixels(2, 4, green);
             GifAnimationInfo info{};
             info.numberOfImages = 1;
             info.delayArray = static_cast<int*>(std::calloc(1, sizeof(int)));
             p.gif_frames = GifFrames::adopt(list, info);
             return p;
         }, TEX_GIF, 2.0f, {0, 255, 0, 0}},
        {"undecodable GIF", [] { return handMade(SlotKind::Gif); }, TEX_NONE, 1.0f,
         {0, 63, 63, 0}},
        {"video of unknown size", [] { return handMade(SlotKind::Video); }, TEX_NONE, 1.0f,
         {63, 63, 0, 0}},
        {"video in another codec", [] {
             SlotPicture p = handMade(SlotKind::Video, 64, 36);
             p.size_known = true;
             p.decodable = false;
             return p;
         }, TEX_NONE, 1.0f, {0, 0, 63, 0}},
        {"video without a free decoder", [] {
             SlotPicture p = handMade(SlotKind::Video, 64, 36);
             p.size_known = true;
             return p;
         }, TEX_NONE, 1.0f, {63, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        Texture texture(200, nullptr, upright, flipped, c.make());
        EXPECT_EQ(texture.getTextureType(), c.type) << c.name;
        EXPECT_FLOAT_EQ(texture.getTextureRatio(), c.ratio) << c.name;
        const Rgba seen = drawAndRead(texture);
        EXPECT_TRUE(near(Rgba{seen.r, seen.g, seen.b, 0}, c.seen, 2)) << c.name << ": " << seen;
    }
}

TEST_F(SlotDrawing, PictureLargerThanTheGpuTakesIsScaledDownNotLost)
{
    ASSERT_GT(max_texture_size, 0);
    const int width = max_texture_size + 1;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * 2);
    for (int row = 0; row < 2; ++row)
        for (int x = 0; x < width; ++x)
            pixels[static_cast<size_t>(row) * width + x] = x < width / 2 ? kRed : kBlue;
    writePng(dir.file("007.png"), width, 2, pixels);
    auto texture = slot(7);
    EXPECT_EQ(texture->getTextureType(), TEX_PNG);
    EXPECT_FLOAT_EQ(texture->getTextureRatio(), 2.0f / width);
    EXPECT_EQ(drawAndRead(*texture, 8, 32), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(drawAndRead(*texture, 56, 32), (Rgba{0, 0, 255, 255}));
}

double fake_now = 0.0;
double fakeClock() { return fake_now; }

TEST_F(SlotDrawing, GifFramesFollowTheirDelaysOnTheSlotClock)
{
    ASSERT_TRUE(writeSolidGif(dir.file("008.gif"), 4, 4,
                              {{0xFF0000, 10}, {0x00FF00, 20}, {0x0000FF, 30}}));
    fake_now = 1000.0; // the clock's origin does not matter
    auto texture = slot(8, &fakeClock);
    ASSERT_EQ(texture->getTextureType(), TEX_GIF);
    const Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255};
    const struct {
        double hundredths; // since loading
        Rgba colour;
    } steps[] = {{0, red},    {9.9, red},   {10.5, green}, {29.9, green},
                 {59.9, blue}, {61, red},    {75, green},   {6000.5 + 60 * 1000, red}};
    // Exact frame ends are covered above; the clock here sums float steps.
    for (const auto& step : steps) {
        fake_now = 1000.0 + step.hundredths / 100.0;
        EXPECT_EQ(drawAndRead(*texture), step.colour) << step.hundredths;
    }
}

// With a show time, a GIF shows the frame the show time points to, whenever
// it was loaded and whatever its own clock says, also when the show time
// jumps back or comes round at midnight.
TEST_F(SlotDrawing, GifFramesFollowTheShowTimeWhenOneIsInstalled)
{
    ASSERT_TRUE(writeSolidGif(dir.file("010.gif"), 4, 4, {{0xFF0000, 10}, {0x00FF00, 20}, {0x0000FF, 30}}));
    double show = 0.0;
    ShowTime::install([&show] { return show; });
    fake_now = 5.0;
    auto early = slot(10, &fakeClock);
    fake_now = 5.37; // loaded later: its own clock would be 37 hundredths behind
    auto late = slot(10, &fakeClock);
    const Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255};
    for (const auto& step : {std::make_pair(0.25, green), std::make_pair(3600.45, blue),
                             std::make_pair(0.05, red)}) {
        show = step.first;
        fake_now += 0.13;
        EXPECT_EQ(drawAndRead(*early), step.second) << step.first;
        EXPECT_EQ(drawAndRead(*late), step.second) << step.first;
    }
    // Past the show time's midnight a called GIF goes on; one started at
    // start-up comes round with the show time.
    ShowTime::install([&show] { return show; }, [] { return 86400.0; });
    show = 86399.80;
    late->cue();
    show = 0.05;
    EXPECT_EQ(drawAndRead(*late), green);
    EXPECT_EQ(drawAndRead(*early), red);
    ShowTime::remove();
}

TEST_F(SlotDrawing, GifWhoseLastFrameHasNoDelayNeverShowsIt)
{
    ASSERT_TRUE(writeSolidGif(dir.file("009.gif"), 4, 4, {{0xFF0000, 10}, {0x00FF00, 0}}));
    fake_now = 0.0;
    auto texture = slot(9, &fakeClock);
    ASSERT_EQ(texture->getTextureType(), TEX_GIF);
    for (double t = 0; t < 100; t += 2.5) {
        fake_now = t / 100.0;
        ASSERT_EQ(drawAndRead(*texture), (Rgba{255, 0, 0, 255})) << t;
    }
}

} // namespace

namespace {

TEST(TextureFitTest, SizesBeyondTheLimitShrinkKeepingTheirProportions)
{
    const struct {
        int width, height, limit;
        int fitted_width, fitted_height;
    } cases[] = {
        {640, 480, 4096, 640, 480},    // fits: kept
        {4096, 4096, 4096, 4096, 4096},
        {8192, 4096, 4096, 4096, 2048},
        {4096, 8192, 4096, 2048, 4096},
        {100000, 10, 4096, 4096, 1},   // never below one pixel
        {5000, 3000, 0, 5000, 3000},   // no limit known
    };
    for (const auto& c : cases) {
        int w = 0, h = 0;
        Spectrafox::Texture::fitIntoTextureLimit(c.width, c.height, c.limit, &w, &h);
        EXPECT_EQ(w, c.fitted_width) << c.width << "x" << c.height;
        EXPECT_EQ(h, c.fitted_height) << c.width << "x" << c.height;
    }
}

} // namespace

} // namespace Spectrafox::Test
