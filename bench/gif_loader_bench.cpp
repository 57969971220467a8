// Decode time of a full-HD, 50-frame animated GIF: our loader against giflib
// plus the same RGBA compositing (every frame a full copy of the previous one
// with the image drawn over it). Target: at most 1.5 times giflib.
#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"

#include <gif_lib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 50;
constexpr int kRounds = 3;

// Smooth moving bands with a little ordered texture, like a dithered video:
// long LZW strings in places, short ones elsewhere.
GifByteType pixelIndex(int x, int y, int frame)
{
    const double wave = std::sin(x * 0.013 + frame * 0.2) + std::cos(y * 0.021 - frame * 0.15) +
                        std::sin((x + y) * 0.007 + frame * 0.1);
    const int band = static_cast<int>((wave + 3.0) * 40.0);
    const int texture = ((x * 7 + y * 13) >> 2) % 3;
    return static_cast<GifByteType>((band + texture) & 0xFF);
}

bool putLoopBlock(GifFileType* gif)
{
    static const GifByteType kLoopForever[3] = {1, 0, 0};
    return EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
           EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") == GIF_OK &&
           EGifPutExtensionBlock(gif, 3, kLoopForever) == GIF_OK && EGifPutExtensionTrailer(gif) == GIF_OK;
}

bool putFrame(GifFileType* gif, int frame, std::vector<GifByteType>& row)
{
    GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 4, NO_TRANSPARENT_COLOR};
    GifByteType extension[4];
    const std::size_t length = EGifGCBToExtension(&control, extension);
    if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) != GIF_OK ||
        EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, nullptr) != GIF_OK)
        return false;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x)
            row[x] = pixelIndex(x, y, frame);
        if (EGifPutLine(gif, row.data(), kWidth) != GIF_OK)
            return false;
    }
    return true;
}

bool writeBenchmarkGif(const std::string& path)
{
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif)
        return false;
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i)
        colors[i] = GifColorType{static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i),
                                 static_cast<GifByteType>((i * 3) & 0xFF)};
    ColorMapObject* map = GifMakeMapObject(256, colors);
    EGifSetGifVersion(gif, true);
    bool ok = map && EGifPutScreenDesc(gif, kWidth, kHeight, 8, 0, map) == GIF_OK && putLoopBlock(gif);
    std::vector<GifByteType> row(kWidth);
    for (int frame = 0; ok && frame < kFrames; ++frame)
        ok = putFrame(gif, frame, row);
    GifFreeMapObject(map);
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Returns the frame count, or 0 on failure.
int decodeWithOurLoader(const std::string& path)
{
    Spectrafox::GIFLoader loader;
    Spectrafox::GifAnimationInfo info{};
    int width = 0, height = 0;
    unsigned char** frames = loader.loadAnimatedGif(path.c_str(), &width, &height, &info);
    if (!frames)
        return 0;
    for (int i = 0; i < info.numberOfImages; ++i)
        free(frames[i]);
    free(frames);
    free(info.delayArray);
    return info.numberOfImages;
}

void drawImage(const GifFileType* gif, const SavedImage& image, int transparent, unsigned char* frame)
{
    const GifImageDesc& desc = image.ImageDesc;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    unsigned char palette[256][4] = {};
    for (int i = 0; map && i < map->ColorCount; ++i) {
        palette[i][0] = map->Colors[i].Red;
        palette[i][1] = map->Colors[i].Green;
        palette[i][2] = map->Colors[i].Blue;
        palette[i][3] = 255;
    }
    if (transparent >= 0)
        palette[transparent][3] = 0;
    const int rows = std::min(desc.Height, gif->SHeight - desc.Top);
    const int columns = std::min(desc.Width, gif->SWidth - desc.Left);
    for (int row = 0; row < rows; ++row) {
        const GifByteType* source = image.RasterBits + static_cast<std::size_t>(row) * desc.Width;
        unsigned char* target = frame + 4 * (static_cast<std::size_t>(desc.Top + row) * gif->SWidth + desc.Left);
        for (int column = 0; column < columns; ++column)
            memcpy(target + 4 * column, palette[source[column]], 4);
    }
}

void fillBackground(const GifFileType* gif, unsigned char* frame, std::size_t frameBytes)
{
    const ColorMapObject* map = gif->SColorMap;
    if (!map)
        return;
    const GifColorType color =
        gif->SBackGroundColor < map->ColorCount ? map->Colors[gif->SBackGroundColor] : GifColorType{0, 0, 0};
    const unsigned char pixel[4] = {color.Red, color.Green, color.Blue, 255};
    for (std::size_t offset = 0; offset < frameBytes; offset += 4)
        memcpy(frame + offset, pixel, 4);
}

int decodeWithGiflib(const std::string& path)
{
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (!gif)
        return 0;
    std::vector<unsigned char*> frames;
    if (DGifSlurp(gif) == GIF_OK) {
        const std::size_t frameBytes = 4 * static_cast<std::size_t>(gif->SWidth) * gif->SHeight;
        frames.push_back(static_cast<unsigned char*>(calloc(frameBytes, 1)));
        fillBackground(gif, frames[0], frameBytes);
        for (int i = 0; i < gif->ImageCount; ++i) {
            GraphicsControlBlock control{};
            DGifSavedExtensionToGCB(gif, i, &control);
            if (i > 0) {
                frames.push_back(static_cast<unsigned char*>(malloc(frameBytes)));
                memcpy(frames.back(), frames[frames.size() - 2], frameBytes);
            }
            drawImage(gif, gif->SavedImages[i], control.TransparentColor, frames.back());
        }
    }
    DGifCloseFile(gif, &error);
    for (unsigned char* frame : frames)
        free(frame);
    return static_cast<int>(frames.size());
}

} // namespace

int main()
{
    const std::string path = "/tmp/spectrafox-gif-bench-" + std::to_string(getpid()) + ".gif";
    std::printf("writing %dx%d, %d frames to %s ...\n", kWidth, kHeight, kFrames, path.c_str());
    if (!writeBenchmarkGif(path)) {
        std::fprintf(stderr, "could not write %s\n", path.c_str());
        return 1;
    }
    double ours = 1e9, giflib = 1e9;
    int ourFrames = 0, giflibFrames = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        ourFrames = decodeWithOurLoader(path);
        ours = std::min(ours, secondsSince(start));
        start = std::chrono::steady_clock::now();
        giflibFrames = decodeWithGiflib(path);
        giflib = std::min(giflib, secondsSince(start));
    }
    unlink(path.c_str());
    if (ourFrames != kFrames || giflibFrames != kFrames) {
        std::fprintf(stderr, "frame counts: ours %d, giflib %d, expected %d\n", ourFrames, giflibFrames, kFrames);
        return 1;
    }
    const double ratio = ours / giflib;
    std::printf("GIFLoader:               %8.1f ms (best of %d)\n", ours * 1000.0, kRounds);
    std::printf("giflib + RGBA composite: %8.1f ms (best of %d)\n", giflib * 1000.0, kRounds);
    std::printf("ratio: %.2f (target <= 1.50) %s\n", ratio, ratio <= 1.5 ? "OK" : "TOO SLOW");
    return 0;
}
