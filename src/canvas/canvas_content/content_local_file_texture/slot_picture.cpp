#include "canvas/canvas_content/content_local_file_texture/slot_picture.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include <stb_image.h>

#include "canvas/canvas_content/content_local_file_texture/video_size_probe.h"

namespace Spectrafox {

SlotPicture::~SlotPicture() { release(); }

SlotPicture::SlotPicture(SlotPicture&& other) noexcept { *this = std::move(other); }

SlotPicture& SlotPicture::operator=(SlotPicture&& other) noexcept
{
    if (this == &other)
        return *this;
    release();
    kind = other.kind;
    file_name = std::move(other.file_name);
    width = other.width;
    height = other.height;
    pixels = std::exchange(other.pixels, nullptr);
    gif_frames = std::exchange(other.gif_frames, nullptr);
    gif_info = std::exchange(other.gif_info, GifAnimationInfo{});
    size_known = other.size_known;
    return *this;
}

std::string SlotPicture::baseName(int slot, const std::string& directory)
{
    char number[16];
    std::snprintf(number, sizeof number, "%03d", slot);
    return directory + number;
}

bool SlotPicture::fileExist(const std::string& filename)
{
    FILE* file = std::fopen(filename.c_str(), "r");
    if (!file)
        return false;
    std::fclose(file);
    return true;
}

SlotPicture SlotPicture::load(int slot, const std::string& directory)
{
    SlotPicture picture;
    const std::string base = baseName(slot, directory);
    if (fileExist(base + ".png")) {
        picture.kind = Kind::Png;
        picture.file_name = base + ".png";
        picture.decodePng();
    } else if (fileExist(base + ".gif")) {
        picture.kind = Kind::Gif;
        picture.file_name = base + ".gif";
        picture.decodeGif();
    } else if (fileExist(base + ".h264")) {
        picture.kind = Kind::Video;
        picture.file_name = base + ".h264";
        picture.probeVideo();
    } else {
        picture.kind = Kind::Missing;
    }
    return picture;
}

void SlotPicture::decodePng()
{
    int channels = 0;
    pixels = stbi_load(file_name.c_str(), &width, &height, &channels, 4);
    if (!pixels)
        width = height = 0;
}

void SlotPicture::decodeGif()
{
    GIFLoader loader;
    gif_frames = loader.loadAnimatedGif(file_name.c_str(), &width, &height, &gif_info);
    if (!gif_frames) {
        width = height = 0;
        gif_info = GifAnimationInfo{};
    }
}

void SlotPicture::probeVideo()
{
    size_known = VideoSizeProbe::probe(file_name, &width, &height);
}

void SlotPicture::release()
{
    releasePixels();
    releaseGifFrames();
    std::free(gif_info.delayArray);
    gif_info.delayArray = nullptr;
}

void SlotPicture::releasePixels()
{
    stbi_image_free(pixels);
    pixels = nullptr;
}

void SlotPicture::releaseGifFrames()
{
    if (!gif_frames)
        return;
    for (int k = 0; k < gif_info.numberOfImages; ++k)
        std::free(gif_frames[k]);
    std::free(gif_frames);
    gif_frames = nullptr;
}

} // namespace Spectrafox
