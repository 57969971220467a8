#include "network/artnet/art_timecode.h"

#include <cstring>

namespace Spectrafox {

using namespace Artnet;

bool ArtTimeCode::parse(const uint8_t* data, long len, Timecode* timecode)
{
    if (len < static_cast<long>(kTimeCodeSize) || std::memcmp(data, kId.data(), kId.size()) != 0)
        return false;
    const int opcode = data[kOpCodeOffset] | data[kOpCodeOffset + 1] << 8;
    const int version = data[kProtVerOffset] << 8 | data[kProtVerOffset + 1];
    if (opcode != kOpTimeCode || version < kProtVer || data[kTimeCodeTypeOffset] >= Timecode::kTypeCount)
        return false;
    Timecode read;
    read.frames = data[kTimeCodeFramesOffset];
    read.seconds = data[kTimeCodeSecondsOffset];
    read.minutes = data[kTimeCodeMinutesOffset];
    read.hours = data[kTimeCodeHoursOffset];
    read.type = static_cast<Timecode::Type>(data[kTimeCodeTypeOffset]);
    if (!read.valid())
        return false;
    *timecode = read;
    return true;
}

ArtTimeCode::Bytes ArtTimeCode::build(const Timecode& timecode)
{
    Bytes bytes{};
    std::memcpy(bytes.data(), kId.data(), kId.size());
    bytes[kOpCodeOffset] = kOpTimeCode & 0xFF;
    bytes[kOpCodeOffset + 1] = kOpTimeCode >> 8;
    bytes[kProtVerOffset] = kProtVer >> 8;
    bytes[kProtVerOffset + 1] = kProtVer & 0xFF;
    bytes[kTimeCodeFramesOffset] = static_cast<uint8_t>(timecode.frames);
    bytes[kTimeCodeSecondsOffset] = static_cast<uint8_t>(timecode.seconds);
    bytes[kTimeCodeMinutesOffset] = static_cast<uint8_t>(timecode.minutes);
    bytes[kTimeCodeHoursOffset] = static_cast<uint8_t>(timecode.hours);
    bytes[kTimeCodeTypeOffset] = static_cast<uint8_t>(timecode.type);
    return bytes;
}

} // namespace Spectrafox
