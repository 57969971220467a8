#include "network/sacn/sacn_packet_parser.h"

#include <algorithm>
#include <cstring>

namespace Spectrafox {

using namespace Sacn;

namespace {

uint16_t read16(const uint8_t* data, std::size_t offset)
{
    return static_cast<uint16_t>(data[offset] << 8 | data[offset + 1]);
}

uint32_t read32(const uint8_t* data, std::size_t offset)
{
    return static_cast<uint32_t>(data[offset]) << 24 | static_cast<uint32_t>(data[offset + 1]) << 16 |
           static_cast<uint32_t>(data[offset + 2]) << 8 | data[offset + 3];
}

bool hasFlags(uint16_t flags_and_length)
{
    return (flags_and_length & kFlagsMask) == kFlags;
}

uint16_t pduLength(uint16_t flags_and_length)
{
    return flags_and_length & kLengthMask;
}

} // namespace

SacnPacketParser::SacnPacketParser(int universe_) : universe(universe_)
{
}

SacnParseResult SacnPacketParser::parse(const uint8_t* data, long len) const
{
    SacnParseResult result;
    if (len < static_cast<long>(kSmallestDataPacket) || !rootLayerIsSound(data, len) ||
        !framingLayerIsSound(data) || !dmpLayerIsSound(data))
        return result;
    if (read16(data, kUniverseOffset) != universe) {
        result.kind = SacnPacketKind::OtherUniverse;
        return result;
    }
    const uint8_t options = data[kOptionsOffset];
    if ((options & kOptionPreviewData) != 0 || data[kStartCodeOffset] != kStartCodeDmx) {
        result.kind = SacnPacketKind::Ignored;
        return result;
    }
    result.kind = SacnPacketKind::Data;
    SacnDataPacket& packet = result.packet;
    std::copy_n(data + kCidOffset, kCidSize, packet.cid.begin());
    packet.priority = data[kPriorityOffset];
    packet.sequence = data[kSequenceNumberOffset];
    packet.stream_terminated = (options & kOptionStreamTerminated) != 0;
    packet.slots = data + kDmxDataOffset;
    packet.slot_count = read16(data, kPropertyValueCountOffset) - 1;
    return result;
}

// The root PDU must lie inside the datagram; the layers inside it are then
// checked against its length, so no read goes past the received bytes.
bool SacnPacketParser::rootLayerIsSound(const uint8_t* data, long len)
{
    const uint16_t root = read16(data, kRootFlagsAndLengthOffset);
    const long root_end = static_cast<long>(kRootFlagsAndLengthOffset) + pduLength(root);
    return read16(data, kPreambleSizeOffset) == kPreambleSize &&
           read16(data, kPostambleSizeOffset) == kPostambleSize &&
           std::memcmp(data + kAcnPacketIdentifierOffset, kAcnPacketIdentifier.data(),
                       kAcnPacketIdentifier.size()) == 0 &&
           hasFlags(root) && root_end <= len && root_end >= static_cast<long>(kSmallestDataPacket) &&
           read32(data, kRootVectorOffset) == kVectorRootE131Data &&
           static_cast<long>(pduLength(read16(data, kFramingFlagsAndLengthOffset)) + kFramingFlagsAndLengthOffset) == root_end;
}

bool SacnPacketParser::framingLayerIsSound(const uint8_t* data)
{
    const uint16_t framing = read16(data, kFramingFlagsAndLengthOffset);
    const std::size_t framing_end = kFramingFlagsAndLengthOffset + pduLength(framing);
    return hasFlags(framing) && read32(data, kFramingVectorOffset) == kVectorE131DataPacket &&
           data[kPriorityOffset] <= kMaxPriority &&
           pduLength(read16(data, kDmpFlagsAndLengthOffset)) + kDmpFlagsAndLengthOffset == framing_end;
}

// The property value count must be what the DMP length leaves room for.
bool SacnPacketParser::dmpLayerIsSound(const uint8_t* data)
{
    const uint16_t dmp = read16(data, kDmpFlagsAndLengthOffset);
    const int count = read16(data, kPropertyValueCountOffset);
    return hasFlags(dmp) && data[kDmpVectorOffset] == kVectorDmpSetProperty &&
           data[kAddressTypeAndDataTypeOffset] == kAddressTypeAndDataType &&
           read16(data, kFirstPropertyAddressOffset) == kFirstPropertyAddress &&
           read16(data, kAddressIncrementOffset) == kAddressIncrement && count >= 1 &&
           count <= kMaxPropertyValueCount &&
           kDmpFlagsAndLengthOffset + pduLength(dmp) == kStartCodeOffset + static_cast<std::size_t>(count);
}

} // namespace Spectrafox
