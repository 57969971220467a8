#include "canvas/canvas_content/content_local_file_texture/content_local_file_texture.h"

#include <gtest/gtest.h>

#include <memory>

#include "canvas/canvas.h"
#include "canvas/canvas_content/content_local_file_texture/texture.h"
#include "support/gl_fixture.h"
#include "support/h264_clip.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"
#include "support/tmux_session.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

constexpr uint32_t kRed = 0xFF0000FF, kGreen = 0x00FF00FF, kBlue = 0x0000FFFF;

// A folder of pictures in ./textures/ of a fresh working directory, and a
// renderer (whose content manager loads them) started in it.
class TextureFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeSolidPng(dir.file("textures/000.png"), 2, 2, kRed);
        writeSolidPng(dir.file("textures/001.png"), 4, 2, kGreen); // twice as wide as high
        writeSolidPng(dir.file("textures/255.png"), 2, 4, kBlue);
        ASSERT_TRUE(writeSolidGif(dir.file("textures/010.gif"), 2, 2, {{0xFFFF00, 50}}));
        in_dir = std::make_unique<ScopedChdir>(dir.path());
        gl = std::make_unique<HeadlessRenderer>(160, 90);
    }
    void TearDown() override
    {
        gl.reset();
        in_dir.reset();
    }

    Rgba show(int content, float scaling_y = 1.0f, int x = 80, int y = 45)
    {
        Canvas canvas("CONTENT_TEXTURE_256");
        canvas.setContentData(content);
        canvas.setScalingY(scaling_y);
        gl->renderer().drawCanvases({&canvas});
        return gl->pixelAt(x, y);
    }

    TempDir dir;
    std::unique_ptr<ScopedChdir> in_dir;
    std::unique_ptr<HeadlessRenderer> gl;
};

TEST_F(TextureFolder, ContentNumbersChooseSlotsAndStrayNumbersChooseSlotZero)
{
    const Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255},
        yellow{255, 255, 0, 255}, black{0, 0, 0, 255};
    const struct {
        int content;
        Rgba seen;
    } cases[] = {{0, red},  {1, green}, {255, blue}, {10, yellow}, {2, black},
                 {-1, red}, {256, red}, {1000, red}};
    for (const auto& c : cases)
        EXPECT_EQ(show(c.content), c.seen) << c.content;
}

TEST_F(TextureFolder, AutomaticHeightTakesThePictureProportions)
{
    // Slot 1 is 4x2: with half width 1 the canvas is 2 units wide and 1 high,
    // so on a 16:9 screen (1.125 units high) it leaves thin black bands.
    EXPECT_EQ(show(1, -1.0f, 80, 45), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(show(1, -1.0f, 80, 1), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(show(1, -1.0f, 80, 88), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(show(1, -1.0f, 80, 6), (Rgba{0, 255, 0, 255}));
}

TEST_F(TextureFolder, PluginReportsRatiosAndHasEverySlot)
{
    CurrentEglHandles egl;
    ContentLocalFileTexture plugin(&egl.display, &egl.surface, &egl.context);
    EXPECT_EQ(plugin.getContentTypeName(), "CONTENT_TEXTURE_256");
    const struct {
        int content;
        float ratio;
    } cases[] = {{0, 1.0f}, {1, 0.5f}, {255, 2.0f}, {10, 1.0f}, {2, 1.0f}, {-1, 1.0f}, {256, 1.0f}};
    for (const auto& c : cases) {
        float ratio = -1.0f;
        plugin.getContentRatio(c.content, &ratio);
        EXPECT_FLOAT_EQ(ratio, c.ratio) << c.content;
    }
    for (int n = 0; n < ContentLocalFileTexture::kSlotCount; ++n)
        ASSERT_NE(plugin.getSlot(n), nullptr) << n;
    EXPECT_EQ(plugin.getSlot(-1), plugin.getSlot(0));
    EXPECT_EQ(plugin.getSlot(256), plugin.getSlot(0));
    EXPECT_EQ(plugin.getSlot(1000), plugin.getSlot(0));
    EXPECT_EQ(plugin.getSlot(10)->getTextureType(), TEX_GIF);
    EXPECT_EQ(plugin.getSlot(2)->getTextureType(), TEX_NONE);
}

} // namespace

namespace {

TEST(VideoSlots, OnlyTheFirstThreeProbedVideosGetADecoderAndStopOnDestruction)
{
    TempDir dir;
    dir.write("textures/100.h264", "no size to be probed here");
    for (const char* name : {"101", "102", "103", "104"})
        ASSERT_TRUE(writeSolidH264(dir.file(std::string("textures/") + name + ".h264"), 64, 36, "blue"));
    ScopedChdir in_dir(dir.path());
    HeadlessRenderer gl(64, 36);
    CurrentEglHandles egl;
    {
        ContentLocalFileTexture plugin(&egl.display, &egl.surface, &egl.context);
        const struct {
            int slot;
            TEXTURE_TYPE type;
            float ratio;
        } cases[] = {{100, TEX_NONE, 1.0f},       // probe failed: no decoder used
                     {101, TEX_VIDEO, 36.0f / 64}, {102, TEX_VIDEO, 36.0f / 64},
                     {103, TEX_VIDEO, 36.0f / 64}, {104, TEX_NONE, 1.0f}}; // all taken
        for (const auto& c : cases) {
            EXPECT_EQ(plugin.getSlot(c.slot)->getTextureType(), c.type) << c.slot;
            float ratio = 0.0f;
            plugin.getContentRatio(c.slot, &ratio);
            EXPECT_FLOAT_EQ(ratio, c.ratio) << c.slot;
        }
    } // returns only once every decoder thread has ended
}

} // namespace

namespace {

// With room for one of two equal GIFs, the lower slot keeps its picture
// whichever decoder thread finishes first, and the console names the other.
TEST(PictureMemorySlots, TheLowerSlotWinsAndTheOneLeftOutIsNamed)
{
    TempDir dir;
    for (const char* name : {"textures/020.gif", "textures/021.gif", "textures/022.gif"})
        ASSERT_TRUE(writeSolidGif(dir.file(name), 64, 64, {{0xFF0000, 10}, {0x00FF00, 10}}));
    ScopedChdir in_dir(dir.path());
    HeadlessRenderer gl(64, 36);
    CurrentEglHandles egl;
    ContentOptions options;
    // Two frames of 17 KiB (with the per-texture charge): about 103 KiB at
    // the peak, 34 KiB kept.
    options.picture_memory_bytes = 120 << 10;
    std::vector<std::string> notices;
    options.notice = [&](const std::string& text) { notices.push_back(text); };
    ContentLocalFileTexture plugin(&egl.display, &egl.surface, &egl.context, options);
    EXPECT_EQ(plugin.getSlot(20)->getTextureType(), TEX_GIF);
    EXPECT_EQ(plugin.getSlot(21)->getTextureType(), TEX_NONE);
    EXPECT_EQ(plugin.getSlot(22)->getTextureType(), TEX_NONE);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[0].find("Slot 21"), std::string::npos) << notices[0];
    EXPECT_NE(notices[0].find("021.gif"), std::string::npos) << notices[0];
}

// Thumbnails exist only where the status page asks for them, each pixel
// from its own part of the picture.
TEST(SlotThumbnails, MadeOnlyWhenAskedEachPixelFromItsOwnPartOfThePicture)
{
    TempDir dir;
    ASSERT_TRUE(writeSolidGif(dir.file("textures/001.gif"), 3, 5, {{0x00FF00, 10}}));
    // 200 x 100: red and blue above, green and white below.
    runCommand("convert -size 100x50 xc:red xc:blue +append \\( -size 100x50 xc:lime xc:white +append \\) "
               "-append PNG32:'" + dir.file("textures/000.png") + "'");
    ScopedChdir in_dir(dir.path());
    HeadlessRenderer gl(64, 36);
    CurrentEglHandles egl;
    for (const bool asked : {true, false}) {
        ContentOptions options;
        options.thumbnails = asked;
        ContentLocalFileTexture plugin(&egl.display, &egl.surface, &egl.context, options);
        const auto png = plugin.slotReports()[0].thumbnail, gif = plugin.slotReports()[1].thumbnail;
        ASSERT_EQ(png && gif, asked);
        ASSERT_TRUE(!asked || (png->width == 64 && png->height == 32));
        for (int i = 0; asked && i < 64 * 32; ++i) {
            const bool right = i % 64 >= 32, below = i / 64 >= 16;
            const std::vector<int> expected = {right == below ? 255 : 0, below ? 255 : 0, right ? 255 : 0, 255};
            ASSERT_EQ(std::vector<int>(&png->rgba[i * 4], &png->rgba[i * 4 + 4]), expected) << i;
        }
    }
}

// VIDEO_ON_CUE=1 with one decoder: frame by frame, which canvases show which
// clip, and who plays, who waits (told once) and who shows an error texel.
TEST(VideoSlotsOnCue, DecodersFollowTheDrawnCanvasesAndAnUndecodableClipTakesNone)
{
    TempDir dir;
    for (const char* name : {"000", "001"})
        ASSERT_TRUE(writeSolidH264(dir.file(std::string("textures/") + name + ".h264"), 64, 36, "blue"));
    ASSERT_TRUE(writeParameterSetsOnly(dir.file("textures/002.h264"), 64, 48));
    ScopedChdir in_dir(dir.path());
    HeadlessRenderer gl(64, 36);
    CurrentEglHandles egl;
    std::vector<std::string> notices;
    ContentOptions options;
    options.video.on_cue = true;
    options.video.decoders = 1;
    options.video.notice = [&notices](const std::string& line) { notices.push_back(line); };
    ContentLocalFileTexture plugin(&egl.display, &egl.surface, &egl.context, options);
    EXPECT_EQ(plugin.getSlot(0)->getTextureType(), TEX_VIDEO) << "first picture decoded";
    EXPECT_EQ(plugin.getSlot(2)->getTextureType(), TEX_NONE) << "no picture: error texel";
    const struct {
        std::vector<std::pair<int, bool>> canvases; // clip, drawn
        bool plays0, plays1;
        size_t notices;
    } frames[] = {
        {{{0, false}, {1, false}}, false, false, 0}, // dimmer 0: nothing decodes
        {{{0, true}, {1, true}}, true, false, 1},    // 1 waits on its first picture
        {{{0, true}, {1, true}}, true, false, 1},    // said once
        {{{1, true}, {2, true}}, false, true, 1},    // 0 left: its decoder goes to 1
        {{{2, true}}, false, true, 1},               // 1 keeps it off screen
    };
    for (size_t f = 0; f < std::size(frames); ++f) {
        int canvas = 0;
        for (const auto& [clip, drawn] : frames[f].canvases) {
            ContentInterface::CanvasCue cue;
            cue.canvas = canvas++;
            cue.drawn = drawn;
            plugin.setContentFor(clip, cue);
        }
        plugin.frameDone();
        EXPECT_EQ(plugin.getSlot(0)->playsVideo(), frames[f].plays0) << "frame " << f;
        EXPECT_EQ(plugin.getSlot(1)->playsVideo(), frames[f].plays1) << "frame " << f;
        EXPECT_EQ(notices.size(), frames[f].notices) << "frame " << f;
    }
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices[0], "Clip 001 waits for a video decoder");
}

} // namespace
