#include "artnet_packet_parser.h"

#include <algorithm>
#include <cstring>

namespace Spectrafox {

using namespace Artnet;

ArtnetPacketParser::ArtnetPacketParser(unsigned int subnet_, unsigned int universe_)
    : subnet(subnet_), universe(universe_)
{
}

ArtnetParseResult ArtnetPacketParser::parse(const uint8_t* data, long len,
                                            DmxUniverse& dmx512) const
{
    ArtnetParseResult result;
    if (len < static_cast<long>(kHeaderSize) || !hasArtnetId(data))
        return result;
    const uint16_t opcode = static_cast<uint16_t>(data[kOpCodeOffset] | data[kOpCodeOffset + 1] << 8);
    if (opcode == kOpPoll) {
        result.kind = ArtnetPacketKind::Poll;
    } else if (opcode == kOpDmx) {
        result.kind = ArtnetPacketKind::Dmx;
        result.channels_updated = copyChannels(data, len, dmx512);
    }
    return result;
}

bool ArtnetPacketParser::hasArtnetId(const uint8_t* data)
{
    return std::memcmp(data, kId.data(), kId.size()) == 0;
}

bool ArtnetPacketParser::isForThisNode(uint8_t sub_uni) const
{
    return (sub_uni >> 4) == subnet && (sub_uni & 0x0F) == universe;
}

bool ArtnetPacketParser::copyChannels(const uint8_t* data, long len, DmxUniverse& dmx512) const
{
    if (len <= static_cast<long>(kDmxDataOffset) || !isForThisNode(data[kDmxSubUniOffset]))
        return false;
    const int length = data[kDmxLengthOffset] << 8 | data[kDmxLengthOffset + 1];
    if (length < kDmxMinChannels || length > kDmxUniverseChannels)
        return false;
    // A datagram cut short carries fewer values than its Length claims; the
    // channels it does not carry keep their last values rather than dropping
    // to zero.
    const long carried = len - static_cast<long>(kDmxDataOffset);
    const long count = std::min<long>(length, carried);
    std::memcpy(dmx512.data(), data + kDmxDataOffset, static_cast<std::size_t>(count));
    return true;
}

} // namespace Spectrafox
