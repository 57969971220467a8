#include "network/artnet/artnet_packet_parser.h"

#include "network/artnet/art_timecode.h"

#include <algorithm>
#include <cstring>

namespace Spectrafox {

using namespace Artnet;

ArtnetPacketParser::ArtnetPacketParser(unsigned int subnet_, unsigned int universe_, int net_)
    : subnet(subnet_), universe(universe_), net(net_)
{
}

void ArtnetPacketParser::setPortAddress(unsigned int subnet_, unsigned int universe_, int net_)
{
    subnet = subnet_;
    universe = universe_;
    net = net_;
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
        result.channels_carried = copyChannels(data, len, dmx512);
        result.channels_updated = result.channels_carried > 0;
    } else if (opcode == kOpSync) {
        result.kind = ArtnetPacketKind::Sync;
    } else if (opcode == kOpTimeCode && ArtTimeCode::parse(data, len, &result.timecode)) {
        result.kind = ArtnetPacketKind::TimeCode;
    }
    return result;
}

bool ArtnetPacketParser::hasArtnetId(const uint8_t* data)
{
    return std::memcmp(data, kId.data(), kId.size()) == 0;
}

// With a Net configured the whole 15-bit Port-Address must match; the Net
// byte's top bit lies outside it, so a byte with that bit set never matches.
bool ArtnetPacketParser::isForThisNode(uint8_t sub_uni, uint8_t net_byte) const
{
    return (sub_uni >> 4) == subnet && (sub_uni & 0x0F) == universe &&
           (net == kAnyNet || net_byte == net);
}

// Returns the number of channels copied; 0 when the packet is not for us.
int ArtnetPacketParser::copyChannels(const uint8_t* data, long len, DmxUniverse& dmx512) const
{
    if (len <= static_cast<long>(kDmxDataOffset) ||
        !isForThisNode(data[kDmxSubUniOffset], data[kDmxNetOffset]))
        return 0;
    const int length = data[kDmxLengthOffset] << 8 | data[kDmxLengthOffset + 1];
    if (length < kDmxMinChannels || length > kDmxUniverseChannels)
        return 0;
    // A datagram cut short carries fewer values than its Length claims; the
    // channels it does not carry keep their last values rather than dropping
    // to zero.
    const long carried = len - static_cast<long>(kDmxDataOffset);
    const long count = std::min<long>(length, carried);
    std::memcpy(dmx512.data(), data + kDmxDataOffset, static_cast<std::size_t>(count));
    return static_cast<int>(count);
}

} // namespace Spectrafox
