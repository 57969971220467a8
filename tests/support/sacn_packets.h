#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace Spectrafox::Test {

// What an E1.31 data packet a desk would send carries.
struct SacnPacketFields {
    int universe = 1;
    std::array<uint8_t, 16> cid = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                   0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x01};
    uint8_t priority = 100;
    uint8_t sequence = 0;
    uint8_t options = 0;
    uint8_t start_code = 0;
    std::vector<uint8_t> slots = std::vector<uint8_t>(512, 0);
};

// The packet's bytes, every length and vector as the standard lays them out,
// written here field by field rather than with the node's constants.
std::vector<uint8_t> sacnDataPacket(const SacnPacketFields& fields);
// A CID that differs from the default in its last two bytes.
std::array<uint8_t, 16> sacnCid(uint16_t number);

} // namespace Spectrafox::Test
