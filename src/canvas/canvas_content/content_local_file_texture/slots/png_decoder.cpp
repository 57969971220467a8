#include "canvas/canvas_content/content_local_file_texture/slots/png_decoder.h"

#include <malloc.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// The bound of the decode running on this thread; null outside a decode, so
// that pixels freed later (on the render thread) are simply freed.
struct DecodeBound {
    std::uint64_t limit = 0;      // bytes held at once
    std::uint64_t growth_cap = 0; // a buffer this large grows no further
    std::uint64_t held = 0;
};
thread_local DecodeBound* bound = nullptr;

std::uint64_t usable(void* block) { return block ? malloc_usable_size(block) : 0; }

void* boundedMalloc(std::size_t size)
{
    if (bound && bound->held + size > bound->limit)
        return nullptr;
    void* block = std::malloc(size);
    if (bound)
        bound->held += usable(block);
    return block;
}

// The buffers that grow hold the compressed data (no more than the file) and
// the inflated data (no more than the header declares): once one is as large
// as both, more data means a broken or hostile file.
void* boundedRealloc(void* block, std::size_t old_size, std::size_t new_size)
{
    if (!bound)
        return std::realloc(block, new_size);
    const std::uint64_t old_bytes = usable(block);
    if (new_size > old_size && old_size >= bound->growth_cap)
        return nullptr;
    if (bound->held - old_bytes + new_size > bound->limit)
        return nullptr;
    void* grown = std::realloc(block, new_size);
    if (grown)
        bound->held = bound->held - old_bytes + usable(grown);
    return grown;
}

void boundedFree(void* block)
{
    if (bound)
        bound->held -= usable(block);
    std::free(block);
}

} // namespace

// Our own copy of stb_image's PNG decoder, private to this file, so that it
// allocates through the bound above.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_MALLOC(size) boundedMalloc(size)
#define STBI_REALLOC_SIZED(block, old_size, new_size) boundedRealloc(block, old_size, new_size)
#define STBI_FREE(block) boundedFree(block)
#include <stb_image.h>

namespace Spectrafox {

namespace {
constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Signature, chunk length and type, then width, height, depth, colour type,
// compression, filter and interlace method.
constexpr std::size_t kHeaderBytes = 29;

std::uint32_t bigEndian32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
}

int channelsOf(int colour_type)
{
    switch (colour_type) {
    case 0: return 1; // grey
    case 2: return 3; // RGB
    case 3: return 1; // palette index
    case 4: return 2; // grey and alpha
    case 6: return 4; // RGBA
    default: return 0;
    }
}

bool validDepth(int colour_type, int depth)
{
    switch (colour_type) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    default: return depth == 8 || depth == 16;
    }
}

// One pass of rows, each with its filter byte.
std::uint64_t rowsBytes(std::uint64_t width, std::uint64_t height, const PngDecoder::Header& header)
{
    if (width == 0 || height == 0)
        return 0;
    const std::uint64_t bits = width * channelsOf(header.colour_type) * header.bit_depth;
    return height * (1 + (bits + 7) / 8);
}
} // namespace

bool PngDecoder::readHeader(const unsigned char* bytes, std::size_t size, Header* out)
{
    if (size < kHeaderBytes || std::memcmp(bytes, kSignature, sizeof kSignature) != 0 ||
        std::memcmp(bytes + 12, "IHDR", 4) != 0)
        return false;
    const std::uint32_t width = bigEndian32(bytes + 16);
    const std::uint32_t height = bigEndian32(bytes + 20);
    Header header;
    header.bit_depth = bytes[24];
    header.colour_type = bytes[25];
    header.interlaced = bytes[28] == 1;
    if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX || bytes[28] > 1 ||
        !validDepth(header.colour_type, header.bit_depth) || channelsOf(header.colour_type) == 0)
        return false;
    header.width = static_cast<int>(width);
    header.height = static_cast<int>(height);
    *out = header;
    return true;
}

std::uint64_t PngDecoder::inflatedBytes(const Header& header)
{
    const std::uint64_t width = static_cast<std::uint64_t>(header.width);
    const std::uint64_t height = static_cast<std::uint64_t>(header.height);
    if (!header.interlaced)
        return rowsBytes(width, height, header);
    // Adam7: seven passes, each a smaller picture of its own rows.
    static const int kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                      {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::uint64_t total = 0;
    for (const int* pass : kPasses) {
        const std::uint64_t x0 = pass[0], y0 = pass[1], dx = pass[2], dy = pass[3];
        const std::uint64_t pass_width = width > x0 ? (width - x0 + dx - 1) / dx : 0;
        const std::uint64_t pass_height = height > y0 ? (height - y0 + dy - 1) / dy : 0;
        total += rowsBytes(pass_width, pass_height, header);
    }
    return total;
}

// The compressed data twice over (stb's copy grows by doubling), the inflated
// data twice over (likewise), the unfiltered picture at 8 bytes a pixel (16
// bits of RGBA) and its conversions to 8-bit RGBA; a page of slack.
std::uint64_t PngDecoder::workingLimit(const Header& header, std::uint64_t file_size)
{
    const std::uint64_t pixels = static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height);
    const std::uint64_t growing = std::max(inflatedBytes(header), file_size);
    return 2 * file_size + 2 * growing + pixels * (8 + 4 + 4) + 4096;
}

unsigned char* PngDecoder::decode(const std::vector<unsigned char>& file, int* width, int* height)
{
    Header header;
    if (file.size() > INT_MAX || !readHeader(file.data(), file.size(), &header))
        return nullptr;
    DecodeBound this_decode;
    this_decode.limit = workingLimit(header, file.size());
    this_decode.growth_cap = std::max<std::uint64_t>(inflatedBytes(header), file.size());
    bound = &this_decode;
    int channels = 0;
    unsigned char* pixels =
        stbi_load_from_memory(file.data(), static_cast<int>(file.size()), width, height, &channels, 4);
    bound = nullptr;
    return pixels;
}

} // namespace Spectrafox
