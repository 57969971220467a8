#include "network/sacn/sacn_receiver.h"

#include <algorithm>
#include <iterator>
#include <net/if.h>
#include <sys/socket.h>
#include <utility>


namespace Spectrafox {

SacnReceiver::SacnReceiver(Setup setup_)
    : setup(std::move(setup_)),
      socket(setup.universe, setup.report),
      parser(setup.universe)
{
    if (!socket.ok())
        return;
    if (!setup.notice)
        setup.notice = setup.report;
    followInterfaces(setup.report, true);
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
        const Clock::time_point now = setup.now();
        handle(len, now);
        if (now >= next_membership_check)
            followInterfaces(setup.notice, false);
    }
}

// Joins where a multicast interface came, leaves where one went. A refusal
// is said once per interface; it is tried again at every check.
void SacnReceiver::followInterfaces(const SacnSocket::Report& say, bool starting)
{
    next_membership_check = setup.now() + kMembershipCheckInterval;
    const std::vector<std::string> now_usable = multicastInterfaces(
        setup.interface_addresses ? setup.interface_addresses() : std::vector<InterfaceAddressEntry>{});
    auto usable = [&now_usable](const std::string& name) {
        return std::find(now_usable.begin(), now_usable.end(), name) != now_usable.end();
    };
    const std::string group = socket.groupText();
    for (auto it = joined.begin(); it != joined.end();) {
        if (usable(it->first)) {
            ++it;
            continue;
        }
        socket.leave(it->second);
        say("sACN: left " + group + " on " + it->first + ", which has no address any more");
        it = joined.erase(it);
    }
    for (auto it = refused.begin(); it != refused.end();)
        it = usable(*it) ? std::next(it) : refused.erase(it);
    for (const std::string& name : now_usable) {
        if (joined.count(name) != 0)
            continue;
        std::string why;
        const int index = socket.join(name, &why);
        if (index != 0) {
            joined[name] = index;
            refused.erase(name);
            if (!starting)
                say("sACN: joined " + group + " on " + name);
        } else if (refused.insert(name).second) {
            say("sACN: cannot join " + group + " on " + name + " (" + why +
                "); the other interfaces and unicast still work");
        }
    }
    if (starting && now_usable.empty())
        say("sACN: no interface can join " + group +
            " yet; only unicast to port 5568 is received until one gains an address");
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
