// The board decoder's frame descriptors, described as the DMA-BUFs EGL imports.
#include "platform/media/drm_prime_picture.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/hwcontext_drm.h>
}

#include <sstream>

namespace Spectrafox::Test {
namespace {

constexpr uint32_t kR8 = drmFourcc('R', '8', ' ', ' ');
constexpr uint32_t kGr88 = drmFourcc('G', 'R', '8', '8');
constexpr uint64_t kSand128 = 0x0700000000006004ULL; // Broadcom SAND128, columns 96 high
constexpr uint64_t kUnknown = 0x00ffffffffffffffULL; // DRM_FORMAT_MOD_INVALID

// Fourcc, then each plane as fd+offset/pitch, then the modifier if any.
std::string text(const DmaBufPicture& p)
{
    std::ostringstream out;
    out << std::string(reinterpret_cast<const char*>(&p.fourcc), 4);
    for (int k = 0; k < p.plane_count; ++k)
        out << " " << p.planes[k].fd << "+" << p.planes[k].offset << "/" << p.planes[k].pitch;
    if (p.has_modifier)
        out << " modifier " << std::hex << p.modifier;
    return out.str();
}

TEST(DescribeDrmPrimeTest, LayersBecomeOnePictureOrAreRefused)
{
    const AVDRMLayerDescriptor r8{kR8, 1, {{0, 0, 64}}}, gr88{kGr88, 1, {{1, 0, 64}}};
    const AVDRMLayerDescriptor yuv420{kDrmFormatYuv420, 3,
                                      {{0, 0, 64}, {0, 4096, 32}, {0, 5120, 32}}};
    const struct {
        AVDRMFrameDescriptor frame;
        const char* expected;
    } cases[] = {
        {{1, {{7, 90000, kSand128}}, 1, {{kDrmFormatNv12, 2, {{0, 0, 128}, {0, 61440, 128}}}}},
         "NV12 7+0/128 7+61440/128 modifier 700000000006004"},
        {{2, {{7, 4096, 0}, {9, 2048, 0}}, 2, {r8, gr88}}, "NV12 7+0/64 9+0/64 modifier 0"},
        {{1, {{5, 6144, kUnknown}}, 1, {yuv420}}, "YU12 5+0/64 5+4096/32 5+5120/32"},
        {{2, {{7, 4096, kSand128}, {9, 2048, 0}}, 2, {r8, gr88}},
         "refused: planes of different modifiers"},
        {{1, {{7, 4096, 0}}, 2, {r8, r8}}, "refused: layers R8   R8  "},
        {{1, {{7, 4096, 0}}, 1, {{kDrmFormatNv12, 2, {{0, 0, 64}, {1, 0, 64}}}}},
         "refused: a plane out of bounds"},
        {{1, {{7, 4096, 0}}, 1, {{kDrmFormatNv12, 9, {}}}}, "refused: a layer of 9 planes"},
    };
    for (const auto& c : cases) {
        AVFrame picture{};
        picture.format = AV_PIX_FMT_DRM_PRIME;
        picture.data[0] = reinterpret_cast<uint8_t*>(const_cast<AVDRMFrameDescriptor*>(&c.frame));
        DmaBufPicture described;
        std::string why;
        const bool ok = describeDrmPrime(picture, &described, &why);
        EXPECT_EQ(ok ? text(described) : "refused: " + why, c.expected);
    }
}

} // namespace
} // namespace Spectrafox::Test
