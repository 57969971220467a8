#pragma once

#include <array>
#include <cstdint>

#include "base/timecode.h"
#include "network/artnet/artnet_protocol.h"

namespace Spectrafox {

// ArtTimeCode (OpCode 0x9700) as read and sent: ID, OpCode, ProtVer, two
// spare bytes (filler, stream), then Frames, Seconds, Minutes, Hours, Type.
class ArtTimeCode {
public:
    using Bytes = std::array<uint8_t, Artnet::kTimeCodeSize>;

    // False, with *timecode left alone, for anything but a whole ArtTimeCode
    // of protocol version 14 or later whose fields lie within their ranges.
    static bool parse(const uint8_t* data, long len, Timecode* timecode);
    // The timecode must be valid().
    static Bytes build(const Timecode& timecode);
};

} // namespace Spectrafox
