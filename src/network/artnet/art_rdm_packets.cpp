#include "network/artnet/art_rdm_packets.h"

#include <algorithm>
#include <cstring>

#include "network/rdm/rdm_protocol.h"

namespace Spectrafox {

using namespace Artnet;

uint8_t ArtRdmPackets::portAddress(int subnet, int universe)
{
    return static_cast<uint8_t>((subnet & 0x0F) << 4 | (universe & 0x0F));
}

bool ArtRdmPackets::headerFor(const uint8_t* data, std::size_t size, uint16_t opcode, uint8_t net)
{
    return size >= kRdmHeaderSize && std::memcmp(data, kId.data(), kId.size()) == 0 &&
           (data[kOpCodeOffset] | data[kOpCodeOffset + 1] << 8) == opcode &&
           (data[kProtVerOffset] << 8 | data[kProtVerOffset + 1]) >= kProtVer && data[kRdmNetOffset] == net;
}

bool ArtRdmPackets::todRequestFor(const uint8_t* data, std::size_t size, uint8_t net, uint8_t address)
{
    if (!headerFor(data, size, kOpTodRequest, net) || data[kRdmCommandOffset] != kTodFull)
        return false;
    const std::size_t count = data[kTodRequestCountOffset];
    if (size < kRdmHeaderSize + count)
        return false;
    return std::find(data + kRdmHeaderSize, data + kRdmHeaderSize + count, address) != data + kRdmHeaderSize + count;
}

bool ArtRdmPackets::todFlushFor(const uint8_t* data, std::size_t size, uint8_t net, uint8_t address)
{
    return headerFor(data, size, kOpTodControl, net) && data[kRdmCommandOffset] == kTodFlush &&
           data[kRdmAddressOffset] == address;
}

const uint8_t* ArtRdmPackets::rdmFor(const uint8_t* data, std::size_t size, uint8_t net, uint8_t address,
                                     std::size_t* message_size)
{
    if (!headerFor(data, size, kOpRdm, net) || data[kRdmVersionOffset] != kRdmVersion ||
        data[kRdmCommandOffset] != kRdmProcess || data[kRdmAddressOffset] != address || size == kRdmHeaderSize)
        return nullptr;
    *message_size = size - kRdmHeaderSize;
    return data + kRdmHeaderSize;
}

std::vector<uint8_t> ArtRdmPackets::header(uint16_t opcode, std::size_t size, uint8_t net, uint8_t address)
{
    std::vector<uint8_t> packet(size, 0);
    std::copy(kId.begin(), kId.end(), packet.begin());
    packet[kOpCodeOffset] = opcode & 0xFF;
    packet[kOpCodeOffset + 1] = opcode >> 8;
    packet[kProtVerOffset + 1] = kProtVer;
    packet[kRdmVersionOffset] = kRdmVersion;
    packet[kRdmNetOffset] = net;
    packet[kRdmAddressOffset] = address;
    return packet;
}

// One port with one device: the whole table in one block.
std::vector<uint8_t> ArtRdmPackets::todData(uint8_t net, uint8_t address, const RdmUid& uid)
{
    std::vector<uint8_t> packet = header(kOpTodData, kTodDataUidsOffset + Rdm::kUidSize, net, address);
    packet[kTodDataPortOffset] = 1;
    packet[kTodDataCommandOffset] = kTodFull;
    packet[kTodDataTotalOffset + 1] = 1;
    packet[kTodDataBlockOffset] = 0;
    packet[kTodDataCountOffset] = 1;
    uid.write(&packet[kTodDataUidsOffset]);
    return packet;
}

std::vector<uint8_t> ArtRdmPackets::rdm(uint8_t net, uint8_t address, const std::vector<uint8_t>& message)
{
    std::vector<uint8_t> packet = header(kOpRdm, kRdmHeaderSize, net, address);
    packet[kRdmCommandOffset] = kRdmProcess;
    packet.insert(packet.end(), message.begin(), message.end());
    return packet;
}

} // namespace Spectrafox
