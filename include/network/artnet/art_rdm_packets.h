#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "network/artnet/artnet_protocol.h"
#include "network/rdm/rdm_uid.h"

namespace Spectrafox {

// RDM over Art-Net, for one output port: ArtTodRequest and ArtTodControl
// (AtcFlush) asking for its table of devices, ArtTodData answering them, and
// ArtRdm carrying one RDM message each way. A port is named by the Net and
// the low byte of its Port-Address (sub-net and universe). Every length is
// checked; anything malformed or for another port is not for us.
class ArtRdmPackets {
public:
    // The low byte of the Port-Address.
    static uint8_t portAddress(int subnet, int universe);

    static bool todRequestFor(const uint8_t* data, std::size_t size, uint8_t net, uint8_t address);
    static bool todFlushFor(const uint8_t* data, std::size_t size, uint8_t net, uint8_t address);
    // The RDM message (without start code) of an ArtRdm for the port, or null.
    static const uint8_t* rdmFor(const uint8_t* data, std::size_t size, uint8_t net, uint8_t address,
                                 std::size_t* message_size);

    static std::vector<uint8_t> todData(uint8_t net, uint8_t address, const RdmUid& uid);
    static std::vector<uint8_t> rdm(uint8_t net, uint8_t address, const std::vector<uint8_t>& message);

private:
    static bool headerFor(const uint8_t* data, std::size_t size, uint16_t opcode, uint8_t net);
    static std::vector<uint8_t> header(uint16_t opcode, std::size_t size, uint8_t net, uint8_t address);
};

} // namespace Spectrafox
