#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Spectrafox {

// ArtAddress: a desk renames the node and moves its port to another
// Port-Address. Switch fields follow Art-Net 4: bit 7 set programs the low
// bits, 0x00 goes back to the node's own setting (config.txt), anything else
// (0x7F in particular) changes nothing. An empty name changes nothing.
class ArtAddress {
public:
    enum Command : uint8_t {
        kNone = 0x00,
        kCancelMerge = 0x01,
        kLedNormal = 0x02,
        kLedMute = 0x03,
        kLedLocate = 0x04,
    };
    struct Fields {
        uint8_t net_switch = 0x7F;
        uint8_t sub_switch = 0x7F;
        uint8_t sw_out = 0x7F; // the first port's
        std::string short_name;
        std::string long_name;
        uint8_t command = kNone;
    };

    // False for anything but a whole ArtAddress of protocol version 14 or
    // later. A name with a control character is left empty (no change).
    static bool parse(const uint8_t* data, std::size_t size, Fields* fields);
    // What a switch field makes of the value in force: `mask` covers the bits
    // it programs (0x7F for the Net, 0x0F for sub-net and universe).
    static int programmed(uint8_t field, int current, int physical, int mask);

private:
    static std::string name(const uint8_t* field, std::size_t size);
};

} // namespace Spectrafox
