#include "network/host_interface_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace Spectrafox {

namespace {

uint32_t hostOrderIPv4(const sockaddr* address)
{
    if (!address || address->sa_family != AF_INET)
        return 0;
    return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

} // namespace

std::vector<InterfaceAddressEntry> HostInterfaceAddresses::read()
{
    std::vector<InterfaceAddressEntry> entries;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return entries;
    for (const ifaddrs* item = list; item; item = item->ifa_next) {
        InterfaceAddressEntry entry;
        entry.name = item->ifa_name ? item->ifa_name : "";
        entry.family = item->ifa_addr ? item->ifa_addr->sa_family : AF_UNSPEC;
        entry.address = hostOrderIPv4(item->ifa_addr);
        entry.flags = item->ifa_flags;
        entry.netmask = hostOrderIPv4(item->ifa_netmask);
        if (item->ifa_flags & IFF_BROADCAST)
            entry.broadcast = hostOrderIPv4(item->ifa_broadaddr);
        entries.push_back(entry);
    }
    freeifaddrs(list);
    return entries;
}

} // namespace Spectrafox
