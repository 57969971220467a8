#include "canvas/canvas_content/content_local_file_texture/slot_picture.h"

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include <stb_image.h>

#include "canvas/canvas_content/content_local_file_texture/video_size_probe.h"
#include "platform/media/container_reader.h"
#include "regular_file.h"

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
    decodable = other.decodable;
    return *this;
}

std::string SlotPicture::baseName(int slot, const std::string& directory)
{
    char number[16];
    std::snprintf(number, sizeof number, "%03d", slot);
    return directory + number;
}

namespace {
// Larger PNG files are not read: they would not fit in memory once decoded.
constexpr size_t kLargestPngFile = size_t{1} << 30;
} // namespace

SlotPicture SlotPicture::load(int slot, const std::string& directory)
{
    SlotPicture picture;
    const std::string base = baseName(slot, directory);
    picture.kind = Kind::Missing;
    for (const char* suffix : {".png", ".gif", ".h264", ".mp4", ".mov", ".mkv"}) {
        if (RegularFile::exists(base + suffix)) {
            picture.file_name = base + suffix;
            break;
        }
    }
    if (picture.file_name.empty())
        return picture;
    const std::string suffix = picture.file_name.substr(base.size());
    if (suffix == ".png") {
        picture.kind = Kind::Png;
        picture.decodePng();
    } else if (suffix == ".gif") {
        picture.kind = Kind::Gif;
        picture.decodeGif();
    } else if (suffix == ".h264") {
        picture.kind = Kind::Video;
        picture.probeVideo();
    } else {
        picture.kind = Kind::Video;
        picture.probeContainer();
    }
    return picture;
}

// From memory, read through a descriptor that never blocks.
void SlotPicture::decodePng()
{
    std::vector<unsigned char> bytes;
    int channels = 0;
    if (RegularFile::readAll(file_name, kLargestPngFile, &bytes))
        pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width,
                                       &height, &channels, 4);
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

// The container tells the size itself.
void SlotPicture::probeContainer()
{
    ContainerReader::Info info;
    size_known = ContainerReader::probe(file_name, &info) && info.width > 0 && info.height > 0;
    if (!size_known)
        return;
    width = info.width;
    height = info.height;
    decodable = info.h264;
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
