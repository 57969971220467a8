#include "canvas/canvas_content/content_local_file_texture/video_size_probe.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/temp_dir.h"
#include "support/tmux_session.h"

using Spectrafox::VideoSizeProbe;

namespace {

TEST(VideoSizeProbeTest, CommandLineIsExactlyTheMediainfoCall)
{
    EXPECT_EQ(VideoSizeProbe::commandLine("./textures/012.h264"),
              "mediainfo --Inform=\"Video;info4spectrafox|%Width%|%Height%|\" ./textures/012.h264");
}

TEST(VideoSizeProbeTest, ParsesOnlyReplyWithTwoPositiveSizes)
{
    const struct {
        const char* reply;
        bool ok;
        int width, height;
    } cases[] = {
        {"info4spectrafox|1920|1080|", true, 1920, 1080},
        {"info4spectrafox|1920|1080|\n", true, 1920, 1080},
        {"info4spectrafox| 640| 360|", true, 640, 360},
        {"info4spectrafox|+320|240|", true, 320, 240},
        {"info4spectrafox|0|1080|", false, 0, 0},
        {"info4spectrafox|1920|0|", false, 0, 0},
        {"info4spectrafox|-5|1080|", false, 0, 0},
        {"info4spectrafox|||", false, 0, 0},
        {"info4spectrafox|", false, 0, 0},
        {"info4spectrafox|1920", false, 0, 0},
        {"", false, 0, 0},
        {"\n", false, 0, 0},
        {"1920|1080|", false, 0, 0},
        {"info4spectrafo|1920|1080|", false, 0, 0},
        {"info4spectrafox|99999999999|1080|", false, 0, 0},
    };
    for (const auto& c : cases) {
        int width = -7;
        int height = -7;
        EXPECT_EQ(VideoSizeProbe::parseReply(c.reply, &width, &height), c.ok) << c.reply;
        EXPECT_EQ(width, c.ok ? c.width : -7) << c.reply;
        EXPECT_EQ(height, c.ok ? c.height : -7) << c.reply;
    }
}

// The real mediainfo on a clip made here by ffmpeg.
TEST(VideoSizeProbeTest, ProbesARealClipAndRejectsAPicture)
{
    Spectrafox::Test::TempDir dir;
    int status = -1;
    Spectrafox::Test::runCommand("cd '" + dir.path() +
                                     "' && ffmpeg -loglevel error -f lavfi -i "
                                     "testsrc=size=320x240:rate=25:duration=1 -c:v libx264 "
                                     "-pix_fmt yuv420p -f h264 clip.h264",
                                 &status);
    ASSERT_EQ(status, 0);
    int width = 0;
    int height = 0;
    EXPECT_TRUE(VideoSizeProbe::probe(dir.file("clip.h264"), &width, &height));
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);

    dir.write("not-a-video.h264", "hello");
    EXPECT_FALSE(VideoSizeProbe::probe(dir.file("not-a-video.h264"), &width, &height));
    EXPECT_FALSE(VideoSizeProbe::probe(dir.file("missing.h264"), &width, &height));
}

} // namespace
