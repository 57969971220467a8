#pragma once

#include <array>
#include <cstdint>

#include "network/artnet/artnet_protocol.h"

namespace Spectrafox {

// The ArtPollReply this node answers every ArtPoll with: one DMX output port
// for the configured sub-net and universe, every byte written.
class ArtPollReply {
public:
    using Bytes = std::array<uint8_t, Artnet::kPollReplySize>;

    // my_ip_address is in host byte order. The Net goes to NetSwitch; 0 when
    // the node takes every Net.
    static Bytes build(uint32_t my_ip_address, int subnet, int universe, int net = 0);

private:
    static void putText(Bytes& reply, std::size_t offset, std::size_t field_size, const char* text);
};

} // namespace Spectrafox
