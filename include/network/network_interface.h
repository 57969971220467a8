#pragma once

#include <cstdint>
#include <string>

namespace Spectrafox {

// One local IPv4 interface address, as an ArtPollReply reports it.
// Addresses are in host byte order.
struct networkInterface {
    std::string name; // empty in the fallback entry
    uint32_t ip_address = 0;
    bool has_broadcast = false;
    uint32_t broadcast_address = 0; // 0 when has_broadcast is false
};

// One entry of the host's interface address list, as the C library hands it
// out; family is AF_UNSPEC for an entry without an address.
struct InterfaceAddressEntry {
    std::string name;
    int family = 0;
    uint32_t address = 0; // host byte order, IPv4 only
    unsigned int flags = 0;
    uint32_t broadcast = 0; // host byte order; meaningful with IFF_BROADCAST
    uint32_t netmask = 0;   // host byte order, IPv4 only
};

} // namespace Spectrafox
