#pragma once

#include <string>

namespace Spectrafox {

// The kinds of file a slot takes, and the names they have in textures/.
// A name on disk is only ever built here, from a slot number and a kind:
// no text of a request reaches the file system.
class TextureName {
public:
    enum class Kind { Png, Gif, H264, Mp4, Mov, Mkv };
    static constexpr int kKinds = 6;
    static constexpr int kSlots = 256;

    // "NNN.ext" exactly (three digits, 000-255, a lower-case kind): true with
    // the slot and kind; false for anything else.
    static bool parse(const std::string& text, int* slot, Kind* kind);
    // "NNN.ext".
    static std::string build(int slot, Kind kind);
    static const char* extension(Kind kind);
    // What a file's first bytes say it is: false when they match `kind`'s
    // format. MP4 and MOV are one family (both read by the same reader).
    // Needs kSniffBytes (fewer for a shorter file).
    static constexpr size_t kSniffBytes = 12;
    static bool looksLike(Kind kind, const unsigned char* head, size_t size);
};

} // namespace Spectrafox
