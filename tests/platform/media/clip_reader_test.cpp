// A clip's size and length come from the file itself: a raw stream's
// parameter sets, a container's duration or its pictures' times.
#include "platform/media/clip_reader.h"
#include "support/h264_clip.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <random>

extern "C" {
#include <libavcodec/packet.h>
}

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

// Under a raw stream's name, whatever the file holds: a size wherever the
// file tells one (the slot then shows why it cannot play), none otherwise.
TEST(ClipReaderTest, ProbesASizeWhateverAVideoIsNamed)
{
    TempDir dir;
    const std::string source = "-f lavfi -i testsrc=size=320x240:rate=25:duration=1 -pix_fmt yuv420p ";
    ASSERT_TRUE(runFfmpeg(source + "-c:v libx264 -f h264 '" + dir.file("clip.h264") + "'"));
    ASSERT_TRUE(runFfmpeg(source + "-c:v libx264 -f mp4 '" + dir.file("mp4.h264") + "'"));
    ASSERT_TRUE(runFfmpeg(source + "-c:v libx264 -f matroska '" + dir.file("mkv.h264") + "'"));
    ASSERT_TRUE(runFfmpeg(source + "-c:v libx265 -x265-params log-level=error -f hevc '" +
                          dir.file("hevc.h264") + "'"));
    ASSERT_TRUE(writeParameterSetsOnly(dir.file("sets.h264"), 17600, 16));
    std::mt19937 random(9);
    std::string noise(300000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    dir.write("noise.h264", noise);
    dir.write("not-a-video.h264", "hello");
    const struct {
        const char* name;
        int width, height;
        bool h264;
    } cases[] = {
        {"clip.h264", 320, 240, true}, {"mp4.h264", 320, 240, false},  {"mkv.h264", 320, 240, false},
        {"hevc.h264", 320, 240, false}, {"sets.h264", 17600, 16, true}, {"noise.h264", 0, 0, false},
        {"not-a-video.h264", 0, 0, false}, {"missing.h264", 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClipReader::Info info;
        const bool probed = ClipReader::probe(dir.file(c.name), &info);
        EXPECT_EQ(probed && info.width > 0 && info.height > 0, c.width > 0);
        if (c.width > 0) {
            EXPECT_EQ(info.width, c.width);
            EXPECT_EQ(info.height, c.height);
            EXPECT_EQ(info.h264, c.h264);
        }
    }
}

// Rates outside the usual range, and a container that never says how long
// it is: the length is the clip's, not a count of pictures at 25 a second.
TEST(ClipReaderTest, LengthIsTheClipsWhateverItsRate)
{
    TempDir dir;
    const std::string x264 = " -c:v libx264 -preset ultrafast -pix_fmt yuv420p ";
    const struct {
        const char* name;
        std::string ffmpeg;
        int64_t duration_us;
        int64_t frame_us;
    } cases[] = {
        {"fast.mp4", "-f lavfi -i testsrc=s=64x48:r=1000:d=3" + x264 + "-f mp4 '" + dir.file("fast.mp4") + "'",
         3000000, 1000},
        {"piped.mkv", "-f lavfi -i testsrc=s=64x48:r=25:d=10" + x264 + "-f matroska - > '" + dir.file("piped.mkv") + "'",
         10000000, 40000},
        {"slides.mp4", "-f lavfi -i testsrc=s=64x48:r=1/5:d=30" + x264 + "-f mp4 '" + dir.file("slides.mp4") + "'",
         30000000, 5000000},
        {"steady.mov", "-f lavfi -i testsrc=s=64x48:r=30:d=2" + x264 + "-f mov '" + dir.file("steady.mov") + "'",
         2000000, 33333},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(runFfmpeg(c.ffmpeg));
        ClipReader reader;
        ASSERT_TRUE(reader.open(dir.file(c.name)));
        EXPECT_NEAR(static_cast<double>(reader.timing().frame_us), c.frame_us, 1.0);
        EXPECT_NEAR(static_cast<double>(reader.timing().duration_us), c.duration_us, 50.0);
        AVPacket* packet = av_packet_alloc();
        EXPECT_TRUE(reader.read(packet)) << "reads from the start once timed";
        EXPECT_EQ(packet->pts, 0);
        av_packet_free(&packet);
    }
}

// A stop asked before or during an open ends it at the next read, however
// slow the medium: the decode thread is joined from the render thread.
TEST(ClipReaderTest, AStopEndsAnOpenAtItsNextRead)
{
    TempDir dir;
    for (const char* name : {"clip.mp4", "clip.mkv", "clip.mov", "clip.h264"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(runFfmpeg("-f lavfi -i testsrc=s=64x48:r=25:d=1 -c:v libx264 -preset ultrafast '" +
                              dir.file(name) + "'"));
        std::atomic<bool> keep_going{false};
        ClipReader reader;
        EXPECT_FALSE(reader.open(dir.file(name), ClipReader::Indexing::Full, &keep_going));
        keep_going = true;
        EXPECT_TRUE(reader.open(dir.file(name), ClipReader::Indexing::Full, &keep_going));
    }
}

} // namespace
