#include "network/sacn/sacn_receiver.h"

#include <algorithm>
#include <net/if.h>
#include <sys/socket.h>
#include <utility>


namespace Spectrafox {

SacnReceiver::SacnReceiver(Setup setup_)
    : setup(std::move(setup_)),
      socket(setup.universe, setup.interfaces, setup.report),
      parser(setup.universe)
{
    if (socket.ok())
        thread = std::thread(&SacnReceiver::listen, this);
}

SacnReceiver::~SacnReceiver()
{
    quit.store(true);
    if (!thread.joinable())
        return;
    socket.wake();
    thread.join();
}

std::vector<std::string> SacnReceiver::multicastInterfaces(const std::vector<InterfaceAddressEntry>& entries)
{
    std::vector<std::string> names;
    for (const InterfaceAddressEntry& entry : entries) {
        const bool usable = entry.family == AF_INET && (entry.flags & IFF_UP) && (entry.flags & IFF_MULTICAST);
        if (usable && std::find(names.begin(), names.end(), entry.name) == names.end())
            names.push_back(entry.name);
    }
    return names;
}

void SacnReceiver::listen()
{
    while (!quit.load()) {
        const long len = socket.receive(buffer, sizeof buffer, kWakeInterval);
        handle(len, setup.now());
    }
}

void SacnReceiver::handle(long len, Clock::time_point now)
{
    bool changed = false;
    const SacnParseResult result = parser.parse(buffer, len);
    if (result.kind == SacnPacketKind::Data && merger.take(result.packet, now)) {
        taken.fetch_add(1, std::memory_order_relaxed);
        changed = true;
    }
    changed = merger.expire(now) || changed;
    if (changed && setup.on_channels)
        setup.on_channels(merger.output(), merger.outputChannels());
}

} // namespace Spectrafox
