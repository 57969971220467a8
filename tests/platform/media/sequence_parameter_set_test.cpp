// The size in a stream's first parameter set as the encoder declared it,
// and never a wrong size or a read past the end from a set cut short.
#include "platform/media/sequence_parameter_set.h"
#include "support/h264_clip.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

using namespace Spectrafox;
using namespace Spectrafox::Test;

TEST(SequenceParameterSetTest, SizeAsDeclaredOrNoneWhenCutShort)
{
    TempDir dir;
    const struct {
        const char* options;
        int width, height;
    } cases[] = {{"-s 1920x1080 -pix_fmt yuv420p", 1920, 1080}, // cropped
                 {"-s 642x362 -pix_fmt yuv444p", 642, 362},
                 {"-s 720x576 -pix_fmt yuv422p -flags +ildct -x264-params interlaced=1", 720, 576}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        ASSERT_TRUE(runFfmpeg(std::string("-f lavfi -i testsrc -frames:v 1 ") + c.options +
                              " -c:v libx264 -f h264 '" + dir.file("clip.h264") + "'"));
        const std::string bytes = readFile(dir.file("clip.h264"));
        for (size_t cut = 0; cut <= std::min<size_t>(bytes.size(), 100); ++cut) {
            int width = 0, height = 0;
            if (SequenceParameterSet::sizeInStream({bytes.begin(), bytes.begin() + cut}, &width, &height))
                EXPECT_TRUE(width == c.width && height == c.height) << cut;
            else
                EXPECT_LT(cut, 100u) << "the whole set gives its size";
        }
    }
}
