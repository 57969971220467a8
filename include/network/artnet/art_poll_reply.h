#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "network/artnet/artnet_protocol.h"

namespace Spectrafox {

// The ArtPollReply this node answers every ArtPoll with: one DMX output port
// for the configured sub-net and universe, every byte written.
class ArtPollReply {
public:
    using Bytes = std::array<uint8_t, Artnet::kPollReplySize>;

    // What a desk may change from the network (ArtAddress, RDM=1); the
    // defaults give the reply of a node without those.
    struct Node {
        int subnet = 0;
        int universe = 0;
        int net = 0;
        std::string short_name = Artnet::kShortName;
        std::string long_name = Artnet::kLongName;
        bool rdm_capable = false;
    };

    // my_ip_address is in host byte order. The Net goes to NetSwitch; 0 when
    // the node takes every Net.
    static Bytes build(uint32_t my_ip_address, int subnet, int universe, int net = 0);
    static Bytes build(uint32_t my_ip_address, const Node& node);

private:
    static void putText(Bytes& reply, std::size_t offset, std::size_t field_size, const char* text);
};

} // namespace Spectrafox
