// Decoded pictures of every format and size reach a YUV texture as 8-bit
// 4:2:0 planes, in the colours their stream gives.
#include "platform/fixed_function/gl_fixed_function.h"
#include "platform/media/yuv_frame_upload.h"
#include "support/gl_fixture.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <memory>

namespace Spectrafox::Test {
namespace {

constexpr int kSurface = 32;

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;

// BT.601 limited-range red all over, at the format's depth.
Frame redPicture(AVPixelFormat format, int width, int height)
{
    Frame frame(av_frame_alloc());
    frame->format = format;
    frame->width = width;
    frame->height = height;
    frame->colorspace = AVCOL_SPC_SMPTE170M;
    frame->color_range = AVCOL_RANGE_MPEG;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const int values[3] = {81, 90, 240};
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? height : AV_CEIL_RSHIFT(height, desc->log2_chroma_h);
        const int columns = plane == 0 ? width : AV_CEIL_RSHIFT(width, desc->log2_chroma_w);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < columns; ++x) {
                uint8_t* line = frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane];
                if (desc->comp[0].depth > 8)
                    reinterpret_cast<uint16_t*>(line)[x] =
                        static_cast<uint16_t>(values[plane] << (desc->comp[0].depth - 8));
                else
                    line[x] = static_cast<uint8_t>(values[plane]);
            }
    }
    return frame;
}

TEST(YuvColourOfTest, StreamSaysOrHeightDecides)
{
    const struct {
        AVColorSpace space;
        AVColorRange range;
        AVPixelFormat format;
        int height;
        YuvColour expected;
    } cases[] = {
        {AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, AV_PIX_FMT_YUV420P, 720,
         {YuvMatrix::Bt709, YuvRange::Limited}},
        {AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, AV_PIX_FMT_YUV420P, 719,
         {YuvMatrix::Bt601, YuvRange::Limited}},
        {AVCOL_SPC_BT709, AVCOL_RANGE_JPEG, AV_PIX_FMT_NV12, 480,
         {YuvMatrix::Bt709, YuvRange::Full}},
        {AVCOL_SPC_BT470BG, AVCOL_RANGE_UNSPECIFIED, AV_PIX_FMT_YUVJ420P, 1080,
         {YuvMatrix::Bt601, YuvRange::Full}},
    };
    for (const auto& c : cases) {
        AVFrame frame{};
        frame.colorspace = c.space;
        frame.color_range = c.range;
        frame.format = c.format;
        frame.height = c.height;
        EXPECT_EQ(yuvColourOf(frame), c.expected) << c.height << " lines, format " << c.format;
    }
}

// Other depths and samplings are converted, pictures beyond the texture
// limit scaled to fit; either way 1.5 bytes a pixel reach GL and the
// colour survives.
TEST(YuvFrameUploadTest, EveryFormatAndSizeArrivesAsFourTwoZero)
{
    HeadlessRenderer gl(kSurface, kSurface);
    const struct {
        AVPixelFormat format;
        int width, height, max_size;
        int texture_width, texture_height;
    } cases[] = {
        {AV_PIX_FMT_YUV420P, 10, 6, kSurface, 10, 6},
        {AV_PIX_FMT_YUV420P10LE, 10, 6, kSurface, 10, 6},
        {AV_PIX_FMT_YUV422P, 9, 7, kSurface, 9, 7},
        {AV_PIX_FMT_YUV444P, 8, 8, kSurface, 8, 8},
        {AV_PIX_FMT_YUV420P, 64, 20, 16, 16, 5},
    };
    YuvFrameUpload upload;
    YuvTexture texture;
    const float quad[12] = {-1, -1, 0, 1, -1, 0, -1, 1, 0, 1, 1, 0};
    const float coords[8] = {0, 0, 1, 0, 0, 1, 1, 1};
    for (const auto& c : cases) {
        SCOPED_TRACE(av_get_pix_fmt_name(c.format));
        const Frame picture = redPicture(c.format, c.width, c.height);
        ASSERT_TRUE(upload.upload(*picture, texture, c.max_size));
        EXPECT_EQ(texture.width(), c.texture_width);
        EXPECT_EQ(texture.height(), c.texture_height);
        const int chroma = ((c.texture_width + 1) / 2) * ((c.texture_height + 1) / 2);
        EXPECT_EQ(texture.uploadedBytes(),
                  static_cast<size_t>(c.texture_width * c.texture_height + 2 * chroma));
        glClear(GL_COLOR_BUFFER_BIT);
        glEnable(GL_TEXTURE_2D);
        texture.bind();
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glVertexPointer(3, GL_FLOAT, 0, quad);
        glTexCoordPointer(2, GL_FLOAT, 0, coords);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        EXPECT_PRED3(near, gl.pixelAt(kSurface / 2, kSurface / 2), (Rgba{255, 0, 0, 255}), 3);
    }
}

} // namespace
} // namespace Spectrafox::Test
