#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Spectrafox {

// Decodes a PNG file held in memory into RGBA with stb_image, whose working
// memory is bounded by what the file's header declares: stb would otherwise
// keep growing its inflate buffer for as long as the data goes on, so a small
// file declaring a 1 x 1 picture could take gigabytes. Each decode has its own
// bound (thread-local), so decodes on several threads do not interfere.
class PngDecoder {
public:
    // What the IHDR chunk, which must come first, declares.
    struct Header {
        int width = 0;
        int height = 0;
        int bit_depth = 0;
        int colour_type = 0;
        bool interlaced = false;
    };
    static bool readHeader(const unsigned char* bytes, std::size_t size, Header* out);

    // RGBA pixels, top row first, allocated with malloc (free them with
    // std::free); null for data that is not a PNG, is broken, or inflates past
    // both what its header declares and the file's own size (an interlaced
    // file's inflate buffer may grow once more: stb guesses it short).
    static unsigned char* decode(const std::vector<unsigned char>& file, int* width, int* height);

    // The bytes the image data inflates to, filter bytes included.
    static std::uint64_t inflatedBytes(const Header& header);
    // The most bytes the decoder may hold at once for this header and a file
    // of `file_size` bytes.
    static std::uint64_t workingLimit(const Header& header, std::uint64_t file_size);
};

} // namespace Spectrafox
