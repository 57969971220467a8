// A clip's size and length come from the file itself: a raw stream's
// parameter sets, a container's duration or its pictures' times.
#include "platform/media/clip_reader.h"
#include "support/h264_clip.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

// Under a raw stream's name, whatever the file holds: a size wherever the
// file tells one (the slot then shows why it cannot play), none otherwise.
TEST(ClipReaderTest, ProbesASizeWhateverAVideoIsNamed)
{
    TempDir dir;
    for (const char* name : {"h264", "mp4", "matroska", "hevc"})
        ASSERT_TRUE(runFfmpeg("-f lavfi -i testsrc=s=320x240:r=25:d=0.2 -pix_fmt yuv420p -c:v " +
                              std::string(name == std::string("hevc") ? "libx265 -x265-params log-level=error"
                                                                       : "libx264") +
                              " -f " + name + " '" + dir.file(name) + ".h264'"));
    ASSERT_TRUE(writeParameterSetsOnly(dir.file("sets.h264"), 17600, 16));
    dir.write("text.h264", std::string(300000, 'x'));
    const struct {
        const char* name;
        int width, height;
        bool h264;
    } cases[] = {{"h264.h264", 320, 240, true},  {"mp4.h264", 320, 240, false}, {"matroska.h264", 320, 240, false},
                 {"hevc.h264", 320, 240, false}, {"sets.h264", 17600, 16, true}, {"text.h264", 0, 0, false},
                 {"missing.h264", 0, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClipReader::Info info;
        const bool probed = ClipReader::probe(dir.file(c.name), &info);
        EXPECT_EQ(probed && info.width > 0 && info.height > 0, c.width > 0);
        EXPECT_EQ(info.width * info.height, c.width * c.height);
        EXPECT_EQ(info.h264 && c.width > 0, c.h264);
    }
    // Parameter sets cut short: no size or the right one, and no read past the end.
    const std::string sets = readFile(dir.file("sets.h264"));
    for (size_t cut = 1; cut < std::min<size_t>(sets.size(), 40); ++cut) {
        ClipReader::Info info;
        if (ClipReader::probe(dir.write("cut.h264", sets.substr(0, cut)), &info) && info.width > 0) {
            EXPECT_EQ(info.width * info.height, 17600 * 16) << cut;
        }
    }
}

// Rates outside the usual range, a container that never says how long it
// is: the length is the clip's, not a count of pictures at 25 a second.
TEST(ClipReaderTest, LengthIsTheClipsWhateverItsRate)
{
    TempDir dir;
    const struct {
        const char* name;
        const char* source;
        const char* written; // to a pipe: no duration in the header
        int64_t duration_us, frame_us;
    } cases[] = {{"fast.mp4", "r=1000:d=3", "", 3000000, 1000},
                 {"piped.mkv", "r=25:d=10", "-f matroska - >", 10000000, 40000},
                 {"slides.mp4", "r=1/5:d=30", "", 30000000, 5000000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.file(c.name);
        ASSERT_TRUE(runFfmpeg("-f lavfi -i testsrc=s=64x48:" + std::string(c.source) +
                              " -c:v libx264 -preset ultrafast -pix_fmt yuv420p " + c.written + " '" + file + "'"));
        ClipReader reader;
        ASSERT_TRUE(reader.open(file));
        EXPECT_NEAR(static_cast<double>(reader.timing().frame_us), c.frame_us, 1.0);
        EXPECT_NEAR(static_cast<double>(reader.timing().duration_us), c.duration_us, 50.0);
    }
}

// A stop ends an open at its next read, however slow the medium: the
// decode thread is joined from the render thread.
TEST(ClipReaderTest, AStopEndsAnOpenAtItsNextRead)
{
    TempDir dir;
    for (const char* name : {"clip.mp4", "clip.mkv", "clip.mov", "clip.h264"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(runFfmpeg("-f lavfi -i testsrc=s=64x48:d=1 -c:v libx264 '" + dir.file(name) + "'"));
        std::atomic<bool> keep_going{false};
        EXPECT_FALSE(ClipReader().open(dir.file(name), ClipReader::Indexing::Full, &keep_going));
        keep_going = true;
        EXPECT_TRUE(ClipReader().open(dir.file(name), ClipReader::Indexing::Full, &keep_going));
    }
}

} // namespace
