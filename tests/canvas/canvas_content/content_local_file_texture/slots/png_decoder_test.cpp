#include "canvas/canvas_content/content_local_file_texture/slots/png_decoder.h"

#include <gtest/gtest.h>

#include <stb_image.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "support/temp_dir.h"
#include "support/tmux_session.h"

using Spectrafox::PngDecoder;
using Spectrafox::Test::runCommand;
using Spectrafox::Test::TempDir;

namespace {

// Honest files of every colour type, depth and interlacing give the pixels
// that stb_image itself gives, whatever the working-memory bound: odd sizes
// leave Adam7's passes uneven, which a wrong inflated size would refuse.
TEST(PngDecoderTest, HonestFilesGiveStbImagesOwnPixels)
{
    TempDir dir;
    const struct {
        const char* options;
        int depth, colour_type;
        bool interlaced;
    } cases[] = {
        {"PNG32:", 8, 6, false},
        {"PNG24:", 8, 2, false},
        {"PNG8:", 8, 3, false},
        {"-alpha off -colorspace Gray -depth 8 PNG:", 8, 0, false},
        {"-alpha off -colorspace Gray -threshold 50% -depth 1 PNG:", 1, 0, false},
        {"-colorspace Gray -depth 8 PNG:", 8, 4, false},
        {"PNG64:", 16, 6, false},
        {"-interlace PNG PNG32:", 8, 6, true},
        {"-interlace PNG PNG8:", 8, 3, true},
        {"-interlace PNG PNG48:", 16, 2, true},
        {"-alpha off -colorspace Gray -depth 16 -interlace PNG PNG:", 16, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        int status = -1;
        runCommand("convert -size 37x23 xc:black -channel R -fx i/w -channel G -fx j/h -channel B "
                   "-fx '(i*j)%7/6' +channel -alpha set -channel A -fx '(i+j)/60' +channel " +
                       std::string(c.options) + "'" + dir.file("p.png") + "' 2>&1",
                   &status);
        ASSERT_EQ(status, 0);
        std::ifstream in(dir.file("p.png"), std::ios::binary);
        const std::vector<unsigned char> file{std::istreambuf_iterator<char>(in), {}};
        PngDecoder::Header header;
        ASSERT_TRUE(PngDecoder::readHeader(file.data(), file.size(), &header));
        EXPECT_EQ(header.bit_depth, c.depth);
        EXPECT_EQ(header.colour_type, c.colour_type);
        EXPECT_EQ(header.interlaced, c.interlaced);
        int width = 0, height = 0, ref_width = 0, ref_height = 0, channels = 0;
        unsigned char* ours = PngDecoder::decode(file, &width, &height);
        unsigned char* theirs = stbi_load_from_memory(file.data(), static_cast<int>(file.size()),
                                                      &ref_width, &ref_height, &channels, 4);
        ASSERT_NE(ours, nullptr);
        ASSERT_NE(theirs, nullptr);
        EXPECT_EQ(width, 37);
        EXPECT_EQ(height, 23);
        EXPECT_EQ(std::vector<unsigned char>(ours, ours + 37 * 23 * 4),
                  std::vector<unsigned char>(theirs, theirs + 37 * 23 * 4));
        std::free(ours);
        stbi_image_free(theirs);
    }
}

} // namespace
