// Decoder pictures in DMA-BUFs through a fake EGL: which displays ask the
// decoder for them, the exact import each gets, the copy that follows a
// refusal, each told once, and no image or decoder frame left behind.
#include "platform/fixed_function/gl_fixed_function.h"
#include "platform/media/video_picture_sets.h"
#include "support/gl_fixture.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/hwcontext.h>
#include <libavutil/hwcontext_drm.h>
}

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <vector>

namespace Spectrafox::Test {
namespace {

constexpr int kWidth = 16, kHeight = 8, kBytes = 4096;
constexpr uint64_t kSand128 = 0x0700000000006004ULL;

struct FakeEgl {
    const char* display_extensions;
    const char* context_extensions;
    bool refuse;
    std::vector<std::vector<EGLint>> created;
    std::set<EGLImageKHR> alive;

    EglImageCalls calls()
    {
        EglImageCalls c;
        c.display_extensions = [this](EGLDisplay) { return display_extensions; };
        c.context_extensions = [this] { return context_extensions; };
        c.create_image = [this](EGLDisplay, const EGLint* a) {
            std::vector<EGLint>& list = created.emplace_back();
            for (; *a != EGL_NONE; a += 2)
                list.insert(list.end(), {a[0], a[1]});
            list.push_back(EGL_NONE);
            const auto image = reinterpret_cast<EGLImageKHR>(created.size());
            return refuse ? EGL_NO_IMAGE_KHR : *alive.insert(image).first;
        };
        c.destroy_image = [this](EGLDisplay, EGLImageKHR i) { EXPECT_EQ(alive.erase(i), 1u); };
        c.image_to_texture = [](EGLImageKHR) {};
        c.last_error = [] { return EGL_BAD_MATCH; };
        return c;
    }
};

// Grey NV12 pictures in memfds, in a DRM hardware frames context that maps
// them (so a copy is real), counted until the decoder would get them back.
class PrimeFrames {
public:
    PrimeFrames()
    {
        AVBufferRef* device = av_hwdevice_ctx_alloc(AV_HWDEVICE_TYPE_DRM);
        auto* drm = reinterpret_cast<AVHWDeviceContext*>(device->data)->hwctx;
        static_cast<AVDRMDeviceContext*>(drm)->fd = -1;
        EXPECT_EQ(av_hwdevice_ctx_init(device), 0);
        frames = av_hwframe_ctx_alloc(device);
        av_buffer_unref(&device);
        auto* context = reinterpret_cast<AVHWFramesContext*>(frames->data);
        context->format = AV_PIX_FMT_DRM_PRIME;
        context->sw_format = AV_PIX_FMT_NV12;
        context->width = kWidth;
        context->height = kHeight;
        EXPECT_EQ(av_hwframe_ctx_init(frames), 0);
    }
    ~PrimeFrames() { av_buffer_unref(&frames); }

    DecodedPicture make(uint8_t luma, uint64_t modifier)
    {
        const int fd = memfd_create("picture", MFD_CLOEXEC);
        EXPECT_EQ(ftruncate(fd, kBytes), 0);
        auto* bytes = static_cast<uint8_t*>(mmap(nullptr, kBytes, PROT_WRITE, MAP_SHARED, fd, 0));
        std::memset(bytes, luma, kWidth * kHeight);
        std::memset(bytes + kWidth * kHeight, 128, kWidth * kHeight / 2);
        munmap(bytes, kBytes);
        auto* d = new AVDRMFrameDescriptor{
            1, {{fd, kBytes, modifier}}, 1,
            {{kDrmFormatNv12, 2, {{0, 0, kWidth}, {0, kWidth * kHeight, kWidth}}}}};
        AVFrame* f = av_frame_alloc();
        f->format = AV_PIX_FMT_DRM_PRIME;
        f->width = kWidth;
        f->height = kHeight;
        f->colorspace = AVCOL_SPC_BT709;
        f->color_range = AVCOL_RANGE_MPEG;
        f->data[0] = reinterpret_cast<uint8_t*>(d);
        f->buf[0] = av_buffer_create(f->data[0], sizeof *d, &PrimeFrames::giveBack, this, 0);
        f->hw_frames_ctx = av_buffer_ref(frames);
        ++held;
        return DecodedPicture(f, [](AVFrame* frame) { av_frame_free(&frame); });
    }
    int held = 0;

private:
    static void giveBack(void* self, uint8_t* data)
    {
        auto* d = reinterpret_cast<AVDRMFrameDescriptor*>(data);
        close(d->objects[0].fd);
        delete d;
        --static_cast<PrimeFrames*>(self)->held;
    }
    AVBufferRef* frames = nullptr;
};

std::vector<EGLint> importOf(int fd, bool with_modifier)
{
    std::vector<EGLint> a = {EGL_WIDTH, kWidth, EGL_HEIGHT, kHeight, EGL_LINUX_DRM_FOURCC_EXT,
                             static_cast<EGLint>(kDrmFormatNv12), EGL_DMA_BUF_PLANE0_FD_EXT, fd,
                             EGL_DMA_BUF_PLANE0_OFFSET_EXT, 0, EGL_DMA_BUF_PLANE0_PITCH_EXT,
                             kWidth};
    if (with_modifier)
        a.insert(a.end(), {EGL_DMA_BUF_PLANE0_MODIFIER_LO_EXT, 0x6004,
                           EGL_DMA_BUF_PLANE0_MODIFIER_HI_EXT, 0x07000000});
    a.insert(a.end(), {EGL_DMA_BUF_PLANE1_FD_EXT, fd, EGL_DMA_BUF_PLANE1_OFFSET_EXT,
                       kWidth * kHeight, EGL_DMA_BUF_PLANE1_PITCH_EXT, kWidth});
    if (with_modifier)
        a.insert(a.end(), {EGL_DMA_BUF_PLANE1_MODIFIER_LO_EXT, 0x6004,
                           EGL_DMA_BUF_PLANE1_MODIFIER_HI_EXT, 0x07000000});
    a.insert(a.end(), {EGL_YUV_COLOR_SPACE_HINT_EXT, EGL_ITU_REC709_EXT, EGL_SAMPLE_RANGE_HINT_EXT,
                       EGL_YUV_NARROW_RANGE_EXT, EGL_NONE});
    return a;
}

// The middle of the picture shown, drawn one texel to a pixel.
Rgba drawn(const VideoPictureSets& sets)
{
    const float quad[8] = {-1, -1, 1, -1, -1, 1, 1, 1}, coords[8] = {0, 0, 1, 0, 0, 1, 1, 1};
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, quad);
    glTexCoordPointer(2, GL_FLOAT, 0, coords);
    sets.bind();
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    return readPixelAt(kWidth / 2, kHeight / 2, kHeight);
}

TEST(VideoPictureSetsTest, ImportedWhereTheDisplayCanElseCopiedAndToldOnce)
{
    HeadlessRenderer gl(kWidth, kHeight);
    const char* both = "EGL_EXT_image_dma_buf_import EGL_EXT_image_dma_buf_import_modifiers";
    const char* plain = "EGL_KHR_image_base EGL_EXT_image_dma_buf_import";
    const char* external = "GL_OES_EGL_image GL_OES_EGL_image_external";
    const std::string shown = "Video: decoder pictures shown without a copy (DMA-BUF)";
    const std::string refused = "Video: DMA-BUF import refused (";
    const struct {
        const char* what;
        const char* display;
        const char* context;
        bool refuse;
        uint64_t modifier;
        bool wanted;
        int tries;          // images asked for
        bool with_modifier; // in the attributes
        std::vector<std::string> told;
    } cases[] = {
        {"with its modifier", both, external, false, kSand128, true, 4, true, {shown}},
        {"linear, no modifiers offered", plain, external, false, 0, true, 4, false, {shown}},
        {"tiled, no modifiers offered", plain, external, false, kSand128, true, 0, false,
         {refused + "the display takes no format modifiers); pictures are copied"}},
        {"refused by the driver, once", both, external, true, kSand128, true, 1, true,
         {refused + "eglCreateImageKHR: EGL_BAD_MATCH); pictures are copied"}},
        {"a display naming a longer extension", "EGL_EXT_image_dma_buf_import_modifiers", external,
         false, kSand128, false, 0, false, {}},
        {"a context naming a longer extension", both, "GL_OES_EGL_image_external_essl3", false,
         kSand128, false, 0, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PrimeFrames frames;
        FakeEgl egl{c.display, c.context, c.refuse, {}, {}};
        const DmaBufImporter importer(gl.display(), egl.calls());
        std::vector<std::string> told;
        DrmPrimeImport import(&importer, [&](const std::string& line) { told.push_back(line); });
        EXPECT_EQ(import.wanted(), c.wanted);
        VideoPictureSets sets(import);
        int first_fd = -1;
        for (int k = 0; k < 4; ++k) { // one more than there are sets
            const auto luma = static_cast<uint8_t>(40 + 40 * k);
            const DecodedPicture picture = frames.make(luma, c.modifier);
            const auto* buffers = reinterpret_cast<const AVDRMFrameDescriptor*>(picture->data[0]);
            first_fd = k == 0 ? buffers->objects[0].fd : first_fd;
            ASSERT_TRUE(sets.show(picture, kWidth));
        }
        const bool imported = c.tries == 4;
        EXPECT_EQ(egl.alive.size(), imported ? 3u : 0u) << "the replaced image is destroyed";
        EXPECT_EQ(frames.held, imported ? 3 : 0) << "decoder frames kept while they can be shown";
        if (!imported) {
            EXPECT_PRED3(near, drawn(sets), (Rgba{168, 168, 168, 255}), 2) << "the last, copied";
        }
        sets.release();
        EXPECT_TRUE(egl.alive.empty());
        EXPECT_EQ(frames.held, 0);
        ASSERT_EQ(static_cast<int>(egl.created.size()), c.tries);
        if (c.tries > 0) {
            EXPECT_EQ(egl.created[0], importOf(first_fd, c.with_modifier));
        }
        EXPECT_EQ(told, c.told);
    }
}

} // namespace
} // namespace Spectrafox::Test
