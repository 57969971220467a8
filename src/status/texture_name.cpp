#include "status/texture_name.h"

#include <cstring>

namespace Spectrafox {

namespace {

const char* const kExtensions[TextureName::kKinds] = {"png", "gif", "h264", "mp4", "mov", "mkv"};

bool startsWith(const unsigned char* head, size_t size, const char* magic, size_t length)
{
    return size >= length && std::memcmp(head, magic, length) == 0;
}

// An H.264 elementary stream starts with a start code (3 or 4 bytes).
bool annexB(const unsigned char* head, size_t size)
{
    return startsWith(head, size, "\0\0\1", 3) || startsWith(head, size, "\0\0\0\1", 4);
}

// The ISO media family starts with a box whose type is one of these.
bool isoMedia(const unsigned char* head, size_t size)
{
    if (size < 8)
        return false;
    for (const char* box : {"ftyp", "moov", "mdat", "wide", "free", "skip"})
        if (std::memcmp(head + 4, box, 4) == 0)
            return true;
    return false;
}

} // namespace

bool TextureName::parse(const std::string& text, int* slot, Kind* kind)
{
    if (text.size() < 5 || text[3] != '.')
        return false;
    for (int i = 0; i < 3; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    const int number = (text[0] - '0') * 100 + (text[1] - '0') * 10 + (text[2] - '0');
    if (number >= kSlots)
        return false;
    for (int k = 0; k < kKinds; ++k)
        if (text.compare(4, std::string::npos, kExtensions[k]) == 0) {
            *slot = number;
            *kind = static_cast<Kind>(k);
            return true;
        }
    return false;
}

std::string TextureName::build(int slot, Kind kind)
{
    char digits[4] = {static_cast<char>('0' + slot / 100 % 10), static_cast<char>('0' + slot / 10 % 10),
                      static_cast<char>('0' + slot % 10), 0};
    return std::string(digits) + "." + extension(kind);
}

const char* TextureName::extension(Kind kind)
{
    return kExtensions[static_cast<int>(kind)];
}

bool TextureName::looksLike(Kind kind, const unsigned char* head, size_t size)
{
    switch (kind) {
    case Kind::Png:
        return startsWith(head, size, "\x89PNG\r\n\x1a\n", 8);
    case Kind::Gif:
        return startsWith(head, size, "GIF87a", 6) || startsWith(head, size, "GIF89a", 6);
    case Kind::H264:
        return annexB(head, size);
    case Kind::Mp4:
    case Kind::Mov:
        return isoMedia(head, size);
    case Kind::Mkv:
        return startsWith(head, size, "\x1a\x45\xdf\xa3", 4);
    }
    return false;
}

} // namespace Spectrafox
