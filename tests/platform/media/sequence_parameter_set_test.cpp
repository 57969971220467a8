// The size in a stream's first parameter set, as the encoder declared it,
// and no size at all (never a wrong one, never a read past the end) from a
// set cut short.
#include "platform/media/sequence_parameter_set.h"
#include "support/h264_clip.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

TEST(SequenceParameterSetTest, SizeAsDeclaredOrNoneWhenCutShort)
{
    TempDir dir;
    const struct {
        const char* what;
        const char* options;
        int width, height;
    } cases[] = {
        {"high, cropped", "-s 1920x1080 -pix_fmt yuv420p", 1920, 1080},
        {"odd size", "-s 642x362 -pix_fmt yuv420p", 642, 362},
        {"4:4:4", "-s 100x50 -pix_fmt yuv444p", 100, 50},
        {"4:2:2, interlaced", "-s 720x576 -pix_fmt yuv422p -flags +ildct -x264-params interlaced=1", 720, 576},
        {"scaling lists", "-s 320x240 -pix_fmt yuv420p -x264-params cqm=jvt", 320, 240},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = dir.file("clip.h264");
        ASSERT_TRUE(runFfmpeg(std::string("-f lavfi -i testsrc=r=25:d=0.04 -frames:v 1 ") + c.options +
                              " -c:v libx264 -f h264 '" + file + "'"));
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> stream((std::istreambuf_iterator<char>(in)), {});
        int width = 0, height = 0;
        ASSERT_TRUE(SequenceParameterSet::sizeInStream(stream, &width, &height));
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        for (size_t cut = 0; cut < std::min<size_t>(stream.size(), 64); ++cut) {
            const std::vector<uint8_t> part(stream.begin(), stream.begin() + static_cast<long>(cut));
            width = height = 0;
            if (SequenceParameterSet::sizeInStream(part, &width, &height)) {
                EXPECT_EQ(width, c.width) << cut;
                EXPECT_EQ(height, c.height) << cut;
            }
        }
    }
}

} // namespace
