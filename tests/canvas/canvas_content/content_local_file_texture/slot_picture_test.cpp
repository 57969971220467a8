#include "canvas/canvas_content/content_local_file_texture/slot_picture.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/tmux_session.h"

using Spectrafox::SlotPicture;
using Spectrafox::Test::runCommand;
using Spectrafox::Test::TempDir;

namespace {

void makePicture(const TempDir& dir, const std::string& name, const std::string& size)
{
    int status = -1;
    runCommand("cd '" + dir.path() + "' && convert -size " + size + " xc:red '" + name + "'", &status);
    ASSERT_EQ(status, 0) << name;
}

TEST(SlotPictureTest, NamesAreThreeDigitsUnderTheDirectory)
{
    EXPECT_EQ(SlotPicture::baseName(0, "./textures/"), "./textures/000");
    EXPECT_EQ(SlotPicture::baseName(7, "./textures/"), "./textures/007");
    EXPECT_EQ(SlotPicture::baseName(42, "./textures/"), "./textures/042");
    EXPECT_EQ(SlotPicture::baseName(255, "./textures/"), "./textures/255");
}

TEST(SlotPictureTest, FindsFilesInPrecedenceOrderAndDecodesThem)
{
    TempDir dir;
    const std::string textures = dir.path() + "/";
    makePicture(dir, "007.png", "4x2");
    makePicture(dir, "007.gif", "8x8");
    makePicture(dir, "7.png", "4x4");
    makePicture(dir, "008.gif", "3x5");
    dir.write("009.h264", "not a video");
    dir.write("010.png", "not a picture");
    dir.write("011.gif", "GIF89a but cut off");

    const struct {
        int slot;
        SlotPicture::Kind kind;
        int width, height;
        bool decoded;
    } cases[] = {
        {7, SlotPicture::Kind::Png, 4, 2, true},     // .png wins over .gif
        {8, SlotPicture::Kind::Gif, 3, 5, true},
        {9, SlotPicture::Kind::Video, 0, 0, false},  // the probe finds no video
        {10, SlotPicture::Kind::Png, 0, 0, false},
        {11, SlotPicture::Kind::Gif, 0, 0, false},
        {12, SlotPicture::Kind::Missing, 0, 0, false},
        {70, SlotPicture::Kind::Missing, 0, 0, false}, // "7.png" is never slot 7's file
    };
    for (const auto& c : cases) {
        SlotPicture picture = SlotPicture::load(c.slot, textures);
        EXPECT_EQ(picture.kind, c.kind) << c.slot;
        EXPECT_EQ(picture.width, c.width) << c.slot;
        EXPECT_EQ(picture.height, c.height) << c.slot;
        const bool decoded = picture.pixels || picture.gif_frames || picture.size_known;
        EXPECT_EQ(decoded, c.decoded) << c.slot;
    }
}

TEST(SlotPictureTest, MovingHandsOverTheBuffers)
{
    TempDir dir;
    makePicture(dir, "001.png", "2x2");
    SlotPicture first = SlotPicture::load(1, dir.path() + "/");
    ASSERT_NE(first.pixels, nullptr);
    SlotPicture second = std::move(first);
    EXPECT_EQ(first.pixels, nullptr);
    EXPECT_NE(second.pixels, nullptr);
    EXPECT_EQ(second.pixels[0], 255); // red
}

} // namespace
