#include "canvas/canvas_content/content_local_file_texture/slots/slot_picture.h"

#include <climits>
#include <cstdint>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <utility>
#include <vector>

#include <unistd.h>

#include <stb_image.h>

extern "C" {
#include <libavutil/frame.h>
}

#include "canvas/canvas_content/content_local_file_texture/slots/png_decoder.h"
#include "platform/media/clip_reader.h"
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
    source = std::move(other.source);
    width = other.width;
    height = other.height;
    pixels = std::exchange(other.pixels, nullptr);
    uploaded_texture = std::exchange(other.uploaded_texture, 0u);
    gif_frames = std::move(other.gif_frames);
    size_known = other.size_known;
    decodable = other.decodable;
    over_budget = other.over_budget;
    refusal = std::move(other.refusal);
    memory = std::move(other.memory);
    first_picture = std::move(other.first_picture);
    too_large = other.too_large;
    thumbnail = std::move(other.thumbnail);
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
// The signature and the start of the IHDR chunk, which holds the size.
constexpr size_t kPngHeaderBytes = 24;
constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Only PNGs reach the decoder: it knows many other formats.
bool hasPngSignature(const std::vector<unsigned char>& bytes)
{
    return bytes.size() >= sizeof kPngSignature &&
           std::memcmp(bytes.data(), kPngSignature, sizeof kPngSignature) == 0;
}

uint32_t bigEndian32(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

// The size a PNG declares in its IHDR chunk, which must come first.
bool pngHeaderSize(const std::vector<unsigned char>& header, int* width, int* height)
{
    if (header.size() < kPngHeaderBytes || !hasPngSignature(header) ||
        std::memcmp(header.data() + 12, "IHDR", 4) != 0)
        return false;
    const uint32_t declared_width = bigEndian32(header.data() + 16);
    const uint32_t declared_height = bigEndian32(header.data() + 20);
    if (declared_width == 0 || declared_height == 0 || declared_width > INT_MAX || declared_height > INT_MAX)
        return false;
    *width = static_cast<int>(declared_width);
    *height = static_cast<int>(declared_height);
    return true;
}

std::string megabytes(std::uint64_t bytes)
{
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}
constexpr int kLastSlot = 255;
} // namespace

// The file names a slot looks for, in order of precedence, with what each
// holds and how it is read.
const SlotPicture::FileRule SlotPicture::kFileRules[] = {
    {".png", SlotKind::Png, &SlotPicture::decodePng},
    {".gif", SlotKind::Gif, &SlotPicture::decodeGif},
    {".h264", SlotKind::Video, &SlotPicture::probeVideo},
    {".mp4", SlotKind::Video, &SlotPicture::probeVideo},
    {".mov", SlotKind::Video, &SlotPicture::probeVideo},
    {".mkv", SlotKind::Video, &SlotPicture::probeVideo},
};

int SlotPicture::slotOfFileName(const std::string& name)
{
    if (name.size() < 4 || !std::isdigit(static_cast<unsigned char>(name[0])) ||
        !std::isdigit(static_cast<unsigned char>(name[1])) || !std::isdigit(static_cast<unsigned char>(name[2])))
        return -1;
    const int slot = std::atoi(name.substr(0, 3).c_str());
    for (const FileRule& rule : kFileRules)
        if (name.compare(3, std::string::npos, rule.suffix) == 0)
            return slot <= kLastSlot ? slot : -1;
    return -1;
}

const SlotPicture::FileRule* SlotPicture::firstPresent(int slot, const std::string& directory, Source* source)
{
    const std::string base = baseName(slot, directory);
    for (const FileRule& rule : kFileRules) {
        const int fd = RegularFile::openForReading(base + rule.suffix);
        if (fd < 0)
            continue;
        source->file_name = base + rule.suffix;
        source->version = RegularFile::versionOf(fd);
        ::close(fd);
        return &rule;
    }
    *source = Source();
    return nullptr;
}

SlotPicture::Source SlotPicture::sourceOf(int slot, const std::string& directory)
{
    Source source;
    firstPresent(slot, directory, &source);
    return source;
}

SlotPicture SlotPicture::load(int slot, const std::string& directory, const Admission& admit,
                              bool with_first_picture, int largest_video_side)
{
    SlotPicture picture;
    picture.kind = SlotKind::Missing;
    if (const FileRule* rule = firstPresent(slot, directory, &picture.source)) {
        picture.file_name = picture.source.file_name;
        picture.kind = rule->kind;
        (picture.*rule->read)(admit);
    }
    if (picture.kind == SlotKind::Video && picture.size_known)
        picture.refuseLargerThan(largest_video_side);
    if (with_first_picture && picture.kind == SlotKind::Video && picture.size_known &&
        picture.decodable)
        picture.decodeFirstPicture(admit);
    return picture;
}

bool SlotPicture::admitted(const Admission& admit, std::uint64_t peak, std::uint64_t kept)
{
    if (!admit || admit(peak, kept, &memory))
        return true;
    over_budget = true;
    refusal = "needs " + megabytes(peak) + " of picture memory";
    return false;
}

// The size comes from the header; the file is read (through a descriptor
// that never blocks) and decoded only once the memory is granted: the file,
// the decoder's working copy, the pixels and the texture.
void SlotPicture::decodePng(const Admission& admit)
{
    std::vector<unsigned char> header;
    std::uint64_t file_size = 0;
    int header_width = 0, header_height = 0;
    if (!RegularFile::readPrefix(file_name, kPngHeaderBytes, &header, &file_size) ||
        file_size > kLargestPngFile || !pngHeaderSize(header, &header_width, &header_height))
        return;
    const std::uint64_t picture_bytes = PictureMemoryBudget::textureBytes(header_width, header_height, 1);
    if (!admitted(admit, file_size + 3 * picture_bytes, picture_bytes))
        return;
    std::vector<unsigned char> bytes;
    PngDecoder::Header read;
    // Replaced since the header was read: not what the memory was granted for.
    if (RegularFile::readAll(file_name, kLargestPngFile, &bytes) &&
        PngDecoder::readHeader(bytes.data(), bytes.size(), &read) && read.width == header_width &&
        read.height == header_height)
        pixels = PngDecoder::decode(bytes, &width, &height);
    if (!pixels)
        width = height = 0;
    memory.shrinkTo(2 * picture_bytes);
}

// The frames are counted first, so a GIF is refused before its frames exist:
// the file, the decoder's working buffers, the frames and their textures.
void SlotPicture::decodeGif(const Admission& admit)
{
    int screen_width = 0, screen_height = 0, frames = 0;
    long file_size = 0;
    if (!GIFLoader::measure(file_name.c_str(), &screen_width, &screen_height, &frames, &file_size))
        return;
    if (frames > GIFLoader::kMaxFrames) {
        over_budget = true;
        refusal = "has " + std::to_string(frames) + " frames, more than " +
                  std::to_string(GIFLoader::kMaxFrames);
        return;
    }
    const std::uint64_t frame_bytes = PictureMemoryBudget::textureBytes(screen_width, screen_height, 1);
    const std::uint64_t picture_bytes = PictureMemoryBudget::textureBytes(screen_width, screen_height, frames);
    if (!admitted(admit, static_cast<std::uint64_t>(file_size) + 2 * frame_bytes + 2 * picture_bytes,
                  picture_bytes))
        return;
    gif_frames = GifFrames::load(file_name, &width, &height);
    // Replaced since it was measured: not what the memory was granted for.
    if (gif_frames && (gif_frames.count() > frames || width != screen_width || height != screen_height))
        gif_frames = GifFrames();
    if (!gif_frames)
        width = height = 0;
    memory.shrinkTo(2 * picture_bytes);
}

// The container, or a raw stream's parameter sets, tell the size.
void SlotPicture::probeVideo(const Admission&)
{
    ClipReader::Info info;
    size_known = ClipReader::probe(file_name, &info) && info.width > 0 && info.height > 0;
    if (!size_known)
        return;
    width = info.width;
    height = info.height;
    decodable = info.h264;
}

// Its pictures would cost the decoder, the uploads and the GPU more than a
// slot may take, and a texture could not hold them.
void SlotPicture::refuseLargerThan(int largest_video_side)
{
    if (largest_video_side <= 0 || (width <= largest_video_side && height <= largest_video_side))
        return;
    decodable = false;
    too_large = true;
    refusal = "is " + std::to_string(width) + "x" + std::to_string(height) + ", larger than " +
              std::to_string(largest_video_side) + "x" + std::to_string(largest_video_side);
}

// Kept as planes, 1.5 bytes a pixel: the decoder's working pictures, the
// decoded one and its textures at the peak. A stream that gives no picture
// here will give none to its decoder either.
void SlotPicture::decodeFirstPicture(const Admission& admit)
{
    const std::uint64_t planes_bytes = PictureMemoryBudget::yuvTextureBytes(width, height);
    if (!admitted(admit, 4 * planes_bytes, planes_bytes))
        return;
    first_picture = FirstPicture::decode(file_name);
    // Replaced since it was probed: not what the memory was granted for.
    if (first_picture && (first_picture->width != width || first_picture->height != height))
        first_picture.reset();
    decodable = first_picture != nullptr;
    memory.shrinkTo(2 * planes_bytes);
}

void SlotPicture::makeThumbnail()
{
    if (pixels)
        thumbnail = SlotThumbnail::of(pixels, width, height);
    else if (gif_frames)
        thumbnail = SlotThumbnail::of(gif_frames.frame(0), width, height);
}

void SlotPicture::release()
{
    releasePixels();
    gif_frames = GifFrames();
    first_picture.reset();
}

void SlotPicture::releasePixels()
{
    std::free(pixels);
    pixels = nullptr;
}

} // namespace Spectrafox
