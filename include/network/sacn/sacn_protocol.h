#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "base/dmx_layout.h"

// E1.31 (streaming ACN) data packets as this node reads them: a root layer, a
// framing layer and a DMP layer, every multi-byte field most significant byte
// first. Offsets are counted in bytes from the start of the UDP payload.
namespace Spectrafox::Sacn {

constexpr uint16_t kPort = 5568;
constexpr int kMinUniverse = 1;
constexpr int kMaxUniverse = 63999;

// Root layer
constexpr std::size_t kPreambleSizeOffset = 0;
constexpr uint16_t kPreambleSize = 0x0010;
constexpr std::size_t kPostambleSizeOffset = 2;
constexpr uint16_t kPostambleSize = 0x0000;
constexpr std::size_t kAcnPacketIdentifierOffset = 4;
constexpr std::array<uint8_t, 12> kAcnPacketIdentifier = {'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0};
constexpr std::size_t kRootFlagsAndLengthOffset = 16;
constexpr std::size_t kRootVectorOffset = 18;
constexpr uint32_t kVectorRootE131Data = 0x00000004;
constexpr std::size_t kCidOffset = 22;
constexpr std::size_t kCidSize = 16;

// Framing layer
constexpr std::size_t kFramingFlagsAndLengthOffset = 38;
constexpr std::size_t kFramingVectorOffset = 40;
constexpr uint32_t kVectorE131DataPacket = 0x00000002;
constexpr std::size_t kSourceNameOffset = 44;
constexpr std::size_t kPriorityOffset = 108;
constexpr uint8_t kMaxPriority = 200;
constexpr std::size_t kSynchronizationAddressOffset = 109;
constexpr std::size_t kSequenceNumberOffset = 111;
constexpr std::size_t kOptionsOffset = 112;
constexpr uint8_t kOptionPreviewData = 0x80;
constexpr uint8_t kOptionStreamTerminated = 0x40;
constexpr std::size_t kUniverseOffset = 113;

// DMP layer
constexpr std::size_t kDmpFlagsAndLengthOffset = 115;
constexpr std::size_t kDmpVectorOffset = 117;
constexpr uint8_t kVectorDmpSetProperty = 0x02;
constexpr std::size_t kAddressTypeAndDataTypeOffset = 118;
constexpr uint8_t kAddressTypeAndDataType = 0xA1;
constexpr std::size_t kFirstPropertyAddressOffset = 119;
constexpr uint16_t kFirstPropertyAddress = 0x0000;
constexpr std::size_t kAddressIncrementOffset = 121;
constexpr uint16_t kAddressIncrement = 0x0001;
constexpr std::size_t kPropertyValueCountOffset = 123;
constexpr std::size_t kStartCodeOffset = 125; // the first property value
constexpr uint8_t kStartCodeDmx = 0x00;
constexpr std::size_t kDmxDataOffset = 126;
// The start code and up to 512 slots.
constexpr int kMaxPropertyValueCount = 1 + Dmx::kUniverseChannels;

// Each PDU's flags sit in the top four bits of its length word.
constexpr uint16_t kFlags = 0x7000;
constexpr uint16_t kFlagsMask = 0xF000;
constexpr uint16_t kLengthMask = 0x0FFF;

// A packet's length word counts from its own offset to the end of the PDU.
constexpr std::size_t kSmallestDataPacket = kStartCodeOffset + 1;
constexpr std::size_t kLargestDataPacket = kStartCodeOffset + kMaxPropertyValueCount;

// A packet whose sequence number is this many or fewer behind the last one
// taken from its source (8-bit wrap-around) arrived late and is dropped.
constexpr int kSequenceLateWindow = 20;
// A source that sends nothing for this long has ended.
constexpr std::chrono::milliseconds kSourceTimeout{2500};

using Cid = std::array<uint8_t, kCidSize>;

// The IPv4 multicast group of a universe: 239.255.hi.lo, host byte order.
constexpr uint32_t multicastGroup(int universe)
{
    return 0xEFFF0000u | (static_cast<uint32_t>(universe) & 0xFFFFu);
}

} // namespace Spectrafox::Sacn
