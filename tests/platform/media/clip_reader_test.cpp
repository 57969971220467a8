// A clip's size and length come from the file itself: a raw stream's
// parameter sets, a container's duration or its pictures' times.
#include "platform/media/clip_reader.h"
#include "support/h264_clip.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

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

} // namespace
