#pragma once

#include <cstdint>
#include <vector>

#include "network/network_interface.h"

namespace Spectrafox {

// Picks the address an ArtPollReply reports and the address it is sent to
// from the host's interface list: IPv4 only, loopback skipped, "eth0" first.
class InterfaceChooser {
public:
    struct ReplyAddresses {
        uint32_t my_ip_address = 0;
        uint32_t send_broadcast_address = 0;
    };

    // Never empty: without a usable interface the list holds one all-zero
    // fallback entry. A missing broadcast address (0, or the address itself)
    // becomes address | ~netmask.
    static std::vector<networkInterface> listInterfaces(const std::vector<InterfaceAddressEntry>& entries);
    // Always the first entry: its address, and its broadcast address or 0.
    static ReplyAddresses choose(const std::vector<networkInterface>& interfaces);

private:
    static bool isUsable(const InterfaceAddressEntry& entry);
    static networkInterface toInterface(const InterfaceAddressEntry& entry);
    static uint32_t broadcastOf(const InterfaceAddressEntry& entry);
};

} // namespace Spectrafox
