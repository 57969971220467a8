#pragma once

#include <vector>

#include "network/network_interface.h"

namespace Spectrafox {

// The host's interface address list (getifaddrs), in its own order.
class HostInterfaceAddresses {
public:
    // An empty list when the host's list cannot be fetched.
    static std::vector<InterfaceAddressEntry> read();
};

} // namespace Spectrafox
