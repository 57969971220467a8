// A clip's size and length come from the file itself: a raw stream's
// parameter sets, a container's duration or its pictures' times.
#include "platform/media/clip_reader.h"
#include "support/h264_clip.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/packet.h>
}

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

TEST(ClipReaderTest, ProbesARawStreamsSizeAndRejectsAPicture)
{
    TempDir dir;
    ASSERT_TRUE(runFfmpeg("-f lavfi -i testsrc=size=320x240:rate=25:duration=1 -c:v libx264 "
                          "-pix_fmt yuv420p -f h264 '" + dir.file("clip.h264") + "'"));
    ClipReader::Info info;
    EXPECT_TRUE(ClipReader::probe(dir.file("clip.h264"), &info));
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.height, 240);
    EXPECT_TRUE(info.h264);

    dir.write("not-a-video.h264", "hello");
    ClipReader::Info none;
    ClipReader::probe(dir.file("not-a-video.h264"), &none);
    EXPECT_EQ(none.width * none.height, 0) << "no size is learnt from what is no stream";
    EXPECT_FALSE(ClipReader::probe(dir.file("missing.h264"), &none));
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

} // namespace
