#include "network/interface_chooser.h"

#include <net/if.h>
#include <sys/socket.h>

namespace Spectrafox {

std::vector<networkInterface> InterfaceChooser::listInterfaces(
    const std::vector<InterfaceAddressEntry>& entries)
{
    std::vector<networkInterface> interfaces;
    for (const InterfaceAddressEntry& entry : entries) {
        if (!isUsable(entry))
            continue;
        // Each "eth0" address goes to the front, so the last one found wins.
        if (entry.name == "eth0")
            interfaces.insert(interfaces.begin(), toInterface(entry));
        else
            interfaces.push_back(toInterface(entry));
    }
    if (interfaces.empty())
        interfaces.push_back(networkInterface{});
    return interfaces;
}

InterfaceChooser::ReplyAddresses InterfaceChooser::choose(const std::vector<networkInterface>& interfaces)
{
    ReplyAddresses chosen;
    if (interfaces.empty())
        return chosen;
    const networkInterface& first = interfaces.front();
    chosen.my_ip_address = first.ip_address;
    chosen.send_broadcast_address = first.has_broadcast ? first.broadcast_address : 0;
    return chosen;
}

bool InterfaceChooser::isUsable(const InterfaceAddressEntry& entry)
{
    return entry.family == AF_INET && entry.name != "lo";
}

networkInterface InterfaceChooser::toInterface(const InterfaceAddressEntry& entry)
{
    networkInterface result;
    result.name = entry.name;
    result.ip_address = entry.address;
    result.has_broadcast = (entry.flags & IFF_BROADCAST) != 0;
    result.broadcast_address = result.has_broadcast ? broadcastOf(entry) : 0;
    return result;
}

// An address added without "brd" reports no broadcast address, or the
// interface's own: a reply sent there never leaves the node. The subnet's
// broadcast is what desks on the link listen to.
uint32_t InterfaceChooser::broadcastOf(const InterfaceAddressEntry& entry)
{
    const bool missing = entry.broadcast == 0 || entry.broadcast == entry.address;
    if (!missing || entry.netmask == 0)
        return entry.broadcast;
    return entry.address | ~entry.netmask;
}

} // namespace Spectrafox
