#pragma once

#include <cstddef>
#include <cstdint>

namespace Spectrafox {
namespace Citp {

// Desks find media servers on this UDP port and these groups; the second is
// the group of older desks, still listened to by many.
constexpr uint16_t kPort = 4809;
constexpr uint32_t kMulticastGroup = 0xEFE000B4u;    // 239.224.0.180
constexpr uint32_t kOldMulticastGroup = 0xE00000B4u; // 224.0.0.180

// A four-letter cookie as it stands on the wire, first letter first.
constexpr uint32_t cookie(const char (&text)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8 | static_cast<uint8_t>(text[3]);
}

constexpr uint32_t kCitp = cookie("CITP");
constexpr uint32_t kPinf = cookie("PINF");
constexpr uint32_t kPloc = cookie("PLoc");
constexpr uint32_t kMsex = cookie("MSEX");

// MSEX messages: what desks ask, what we answer.
constexpr uint32_t kCInf = cookie("CInf");
constexpr uint32_t kSInf = cookie("SInf");
constexpr uint32_t kNack = cookie("Nack");
constexpr uint32_t kLSta = cookie("LSta");
constexpr uint32_t kGELI = cookie("GELI");
constexpr uint32_t kELIn = cookie("ELIn");
constexpr uint32_t kELUp = cookie("ELUp");
constexpr uint32_t kGEIn = cookie("GEIn");
constexpr uint32_t kMEIn = cookie("MEIn");
constexpr uint32_t kGELT = cookie("GELT");
constexpr uint32_t kELTh = cookie("ELTh");
constexpr uint32_t kGETh = cookie("GETh");
constexpr uint32_t kEThn = cookie("EThn");

constexpr uint32_t kFormatRgb8 = cookie("RGB8");
constexpr uint32_t kFormatPng = cookie("PNG ");
constexpr uint32_t kFormatJpeg = cookie("JPEG");

// MSEX versions as major << 8 | minor.
constexpr uint16_t kMsex10 = 0x0100;
constexpr uint16_t kMsex11 = 0x0101;
constexpr uint16_t kMsex12 = 0x0102;

constexpr size_t kHeaderBytes = 20;     // the CITP header
constexpr size_t kMsexHeaderBytes = 26; // and the MSEX header behind it
// Requests are small; a size beyond this is a broken or hostile stream.
constexpr size_t kMostRequestBytes = 70000;
// ThumbnailBufferSize is 16 bits wide.
constexpr size_t kMostThumbnailBytes = 65535;
constexpr int kMostThumbnailSide = 512;

constexpr uint8_t kMediaLibrary = 1;         // LibraryType
constexpr uint16_t kMediaLibraryBit = 0x0001; // SupportedLibraryTypes
constexpr uint8_t kKeepAspect = 0x01;        // ThumbnailFlags

// LayerStatusFlags.
constexpr uint32_t kLayerPlaying = 0x0001;
constexpr uint32_t kLayerLooping = 0x0004;
constexpr uint32_t kLayerPaused = 0x0020;

// ELUp UpdateFlags.
constexpr uint8_t kElementsUpdated = 0x01;
constexpr uint8_t kElementsAddedOrRemoved = 0x02;

// A library's place in the tree: level 0 is the root, level 1 names
// level1, and so on. MSEX 1.0 knows only a number (carried in level1).
struct LibraryId {
    uint8_t level = 0;
    uint8_t level1 = 0;
    uint8_t level2 = 0;
    uint8_t level3 = 0;
    bool operator==(const LibraryId& o) const
    {
        return level == o.level && level1 == o.level1 && level2 == o.level2 && level3 == o.level3;
    }
};

} // namespace Citp
} // namespace Spectrafox
