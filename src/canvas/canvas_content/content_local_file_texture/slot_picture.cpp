#include "canvas/canvas_content/content_local_file_texture/slot_picture.h"

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include <stb_image.h>

#include "canvas/canvas_content/content_local_file_texture/video_size_probe.h"
#include "platform/media/container_reader.h"
#include "platform/media/first_picture.h"
#include "base/regular_file.h"

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
    gif_frames = std::move(other.gif_frames);
    size_known = other.size_known;
    decodable = other.decodable;
    first_picture = std::move(other.first_picture);
    first_width = other.first_width;
    first_height = other.first_height;
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

// The file names a slot looks for, in order of precedence, with what each
// holds and how it is read.
const SlotPicture::FileRule SlotPicture::kFileRules[] = {
    {".png", SlotKind::Png, &SlotPicture::decodePng},
    {".gif", SlotKind::Gif, &SlotPicture::decodeGif},
    {".h264", SlotKind::Video, &SlotPicture::probeVideo},
    {".mp4", SlotKind::Video, &SlotPicture::probeContainer},
    {".mov", SlotKind::Video, &SlotPicture::probeContainer},
    {".mkv", SlotKind::Video, &SlotPicture::probeContainer},
};

SlotPicture SlotPicture::load(int slot, const std::string& directory, bool with_first_picture)
{
    SlotPicture picture;
    picture.kind = SlotKind::Missing;
    const std::string base = baseName(slot, directory);
    for (const FileRule& rule : kFileRules) {
        if (RegularFile::exists(base + rule.suffix)) {
            picture.file_name = base + rule.suffix;
            picture.kind = rule.kind;
            (picture.*rule.read)();
            break;
        }
    }
    if (with_first_picture && picture.kind == SlotKind::Video && picture.size_known &&
        picture.decodable)
        picture.decodeFirstPicture();
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
    gif_frames = GifFrames::load(file_name, &width, &height);
    if (!gif_frames)
        width = height = 0;
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

// A stream that gives no picture here will give none to its decoder either.
void SlotPicture::decodeFirstPicture()
{
    decodable = FirstPicture::decode(file_name, &first_picture, &first_width, &first_height);
}

void SlotPicture::release()
{
    releasePixels();
    gif_frames = GifFrames();
    first_picture = std::vector<unsigned char>();
}

void SlotPicture::releasePixels()
{
    stbi_image_free(pixels);
    pixels = nullptr;
}

} // namespace Spectrafox
