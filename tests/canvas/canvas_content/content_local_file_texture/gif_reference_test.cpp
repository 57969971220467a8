// Our decoder against giflib on files written by ImageMagick and gifsicle.
// giflib decodes the indices; the frames are then put together with our
// rules (delay grouping, no disposal, transparent pixels keep the table
// colour at alpha 0), so any difference is in parsing or decoding.
#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"

#include "support/temp_dir.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using Spectrafox::GIFLoader;
using Spectrafox::GifAnimationInfo;
using Spectrafox::Test::TempDir;

struct Frames {
    int width = 0;
    int height = 0;
    std::vector<int> delays;
    std::vector<std::vector<uint8_t>> pixels;
};

Frames decodeWithOurLoader(const std::string& path)
{
    Frames result;
    GifAnimationInfo info{};
    GIFLoader loader;
    unsigned char** frames = loader.loadAnimatedGif(path.c_str(), &result.width, &result.height, &info);
    if (!frames)
        return result;
    const std::size_t frameBytes = 4 * static_cast<std::size_t>(result.width) * result.height;
    for (int i = 0; i < info.numberOfImages; ++i) {
        result.pixels.emplace_back(frames[i], frames[i] + frameBytes);
        result.delays.push_back(info.delayArray[i]);
        free(frames[i]);
    }
    free(frames);
    free(info.delayArray);
    return result;
}

void putColor(uint8_t* target, const ColorMapObject* map, int index, uint8_t alpha)
{
    const bool known = map && index < map->ColorCount;
    target[0] = known ? map->Colors[index].Red : 0;
    target[1] = known ? map->Colors[index].Green : 0;
    target[2] = known ? map->Colors[index].Blue : 0;
    target[3] = alpha;
}

void drawImage(const GifFileType* gif, const SavedImage& image, int transparent, std::vector<uint8_t>& frame)
{
    const GifImageDesc& desc = image.ImageDesc;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    for (int row = 0; row < desc.Height && desc.Top + row < gif->SHeight; ++row) {
        for (int column = 0; column < desc.Width && desc.Left + column < gif->SWidth; ++column) {
            const int index = image.RasterBits[row * desc.Width + column];
            uint8_t* target = &frame[4 * ((desc.Top + row) * gif->SWidth + desc.Left + column)];
            putColor(target, map, index, index == transparent ? 0 : 255);
        }
    }
}

Frames decodeWithGiflib(const std::string& path, const std::function<void(const GifFileType*)>& inspect)
{
    Frames result;
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (!gif)
        return result;
    if (DGifSlurp(gif) == GIF_OK) {
        inspect(gif);
        result.width = gif->SWidth;
        result.height = gif->SHeight;
        std::vector<uint8_t> frame(4 * static_cast<std::size_t>(gif->SWidth) * gif->SHeight, 0);
        if (gif->SColorMap)
            for (std::size_t pixel = 0; pixel < frame.size(); pixel += 4)
                putColor(&frame[pixel], gif->SColorMap, gif->SBackGroundColor, 255);
        result.delays.push_back(0);
        bool newFrame = false;
        for (int i = 0; i < gif->ImageCount; ++i) {
            GraphicsControlBlock control{};
            DGifSavedExtensionToGCB(gif, i, &control); // fills defaults when absent
            if (newFrame) {
                result.pixels.push_back(frame);
                result.delays.push_back(0);
                newFrame = false;
            }
            drawImage(gif, gif->SavedImages[i], control.TransparentColor, frame);
            if (control.DelayTime > 0) {
                result.delays.back() = control.DelayTime;
                newFrame = true;
            }
        }
        result.pixels.push_back(frame);
    }
    DGifCloseFile(gif, &error);
    return result;
}

void expectSameFrames(const Frames& ours, const Frames& reference)
{
    ASSERT_EQ(ours.width, reference.width);
    ASSERT_EQ(ours.height, reference.height);
    ASSERT_EQ(ours.delays, reference.delays);
    ASSERT_EQ(ours.pixels.size(), reference.pixels.size());
    for (std::size_t frame = 0; frame < ours.pixels.size(); ++frame) {
        const auto& a = ours.pixels[frame];
        const auto& b = reference.pixels[frame];
        for (std::size_t byte = 0; byte < a.size(); ++byte) {
            if (a[byte] != b[byte]) {
                const std::size_t pixel = byte / 4;
                FAIL() << "frame " << frame << " pixel (" << pixel % ours.width << ", " << pixel / ours.width
                       << ") channel " << byte % 4 << ": ours " << int(a[byte]) << ", giflib " << int(b[byte]);
            }
        }
    }
}

bool anyImage(const GifFileType* gif, const std::function<bool(const SavedImage&, int)>& test)
{
    for (int i = 0; i < gif->ImageCount; ++i)
        if (test(gif->SavedImages[i], i))
            return true;
    return false;
}

TEST(GifReferenceTest, FramesMatchGiflib)
{
    struct Case {
        const char* name;
        const char* command; // writes out.gif in the working directory
        std::function<void(const GifFileType*)> inspect;
    };
    auto none = [](const GifFileType*) {};
    auto interlaced = [](const GifFileType* gif) {
        EXPECT_TRUE(anyImage(gif, [](const SavedImage& image, int) { return image.ImageDesc.Interlace; }));
    };
    auto fullPalette = [](const GifFileType* gif) {
        ASSERT_NE(gif->SColorMap, nullptr);
        EXPECT_EQ(gif->SColorMap->ColorCount, 256);
    };
    auto localTables = [](const GifFileType* gif) {
        EXPECT_TRUE(anyImage(gif, [](const SavedImage& image, int) { return image.ImageDesc.ColorMap != nullptr; }));
        EXPECT_GT(gif->ImageCount, 1);
    };
    auto transparent = [](const GifFileType* gif) {
        EXPECT_TRUE(anyImage(gif, [gif](const SavedImage&, int i) {
            GraphicsControlBlock control{};
            DGifSavedExtensionToGCB(const_cast<GifFileType*>(gif), i, &control);
            return control.TransparentColor != NO_TRANSPARENT_COLOR;
        }));
    };
    auto offset = [](const GifFileType* gif) {
        EXPECT_GT(gif->SavedImages[0].ImageDesc.Left, 0);
        EXPECT_LT(gif->SavedImages[0].ImageDesc.Width, gif->SWidth);
    };
    const Case cases[] = {
        {"gradient", "convert -size 64x48 gradient:red-blue out.gif", none},
        {"two colours", "convert -size 33x17 pattern:checkerboard -monochrome out.gif", none},
        {"single pixel", "convert -size 1x1 xc:green out.gif", none},
        {"GIF87a", "convert rose: GIF87:out.gif", none},
        {"256 colours, dithered", "convert rose: -colors 256 out.gif", fullPalette},
        {"256 colours, large", "convert logo: -colors 256 out.gif", fullPalette},
        {"256 colours, flat areas", "convert rose: -scale 300% +dither -colors 256 out.gif", fullPalette},
        {"interlaced by ImageMagick", "convert rose: -interlace GIF out.gif", interlaced},
        {"interlaced by gifsicle", "convert rose: -scale 200% in.gif && gifsicle -i in.gif -o out.gif", interlaced},
        {"interlaced column", "convert -size 1x300 gradient:white-black -interlace GIF out.gif", interlaced},
        {"transparent", "convert -size 40x30 xc:none -fill red -draw 'circle 20,15 20,5' out.gif", transparent},
        {"image inside a larger screen",
         "convert rose: in.gif && gifsicle --logical-screen 300x200 -p 17,9 in.gif -o out.gif", offset},
        {"animation with local tables",
         "convert -delay 10 rose: \\( rose: -negate \\) \\( rose: -flip -modulate 100,100,50 \\) -loop 0 out.gif",
         localTables},
        {"animation merged by gifsicle",
         "convert -size 210x138 gradient:red-blue a.gif && convert rose: -scale 300% -colors 256 b.gif && "
         "gifsicle -d 5 --loopcount=3 a.gif b.gif -o out.gif",
         localTables},
        {"animation optimised by gifsicle",
         "convert -delay 10 rose: \\( rose: -negate \\) \\( rose: -flip \\) in.gif && gifsicle -O2 in.gif -o out.gif",
         transparent},
        {"animation with untimed images",
         "convert -delay 0 rose: \\( rose: -negate \\) -delay 20 \\( rose: -flop \\) -delay 0 \\( rose: -flip \\) "
         "out.gif",
         none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string command = "cd '" + dir.path() + "' && (" + c.command + ") >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const std::string path = dir.file("out.gif");
        const Frames reference = decodeWithGiflib(path, c.inspect);
        ASSERT_FALSE(reference.pixels.empty()) << "giflib could not read " << c.name;
        const Frames ours = decodeWithOurLoader(path);
        ASSERT_FALSE(ours.pixels.empty()) << "our loader gave null";
        expectSameFrames(ours, reference);
    }
}

} // namespace
