#include "network/citp/citp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "network/citp/citp_message_builder.h"

namespace Spectrafox {

namespace {

sockaddr_in ipv4(uint32_t address, uint16_t port)
{
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_addr.s_addr = htonl(address);
    out.sin_port = htons(port);
    return out;
}

} // namespace

CitpPeer::CitpPeer(Setup s) : setup(std::move(s)), library(setup.identity)
{
    if (!openSockets())
        return;
    next_announce = next_status = Clock::now();
    worker = std::thread([this] { run(); });
}

CitpPeer::~CitpPeer()
{
    stopping = true;
    library.keep_going = false;
    if (worker.joinable()) {
        const uint64_t one = 1;
        (void)!write(wake_fd, &one, sizeof one);
        worker.join();
    }
    desks.clear();
    for (int fd : {listen_fd, announce_fd, wake_fd})
        if (fd >= 0)
            close(fd);
}

bool CitpPeer::openSockets()
{
    wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    announce_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(listen_fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in any = ipv4(INADDR_ANY, static_cast<uint16_t>(setup.port));
    socklen_t length = sizeof any;
    if (wake_fd < 0 || listen_fd < 0 || announce_fd < 0 ||
        bind(listen_fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
        listen(listen_fd, kListenBacklog) != 0 ||
        getsockname(listen_fd, reinterpret_cast<sockaddr*>(&any), &length) != 0) {
        failure = "CITP: TCP port " + std::to_string(setup.port) + ": " + std::strerror(errno);
        return false;
    }
    tcp_port = ntohs(any.sin_port);
    return true;
}

void CitpPeer::run()
{
    while (!stopping) {
        const Clock::time_point now = Clock::now();
        if (now >= next_announce) {
            refreshLibrary();
            announce();
            next_announce = now + kAnnounceEvery;
        }
        if (now >= next_status) {
            greetOlderDesks(now);
            sendLayerStatus();
            next_status = now + kLayerStatusEvery;
        }
        std::vector<pollfd> watched{{wake_fd, POLLIN, 0}, {listen_fd, POLLIN, 0}};
        for (const auto& desk : desks)
            watched.push_back({desk->fd(), static_cast<short>((desk->wantsInput() ? POLLIN : 0) |
                                                              (desk->wantsOutput() ? POLLOUT : 0)),
                               0});
        // Requests left over (answered a part at a time) do not wait for the socket.
        const bool work_left = std::any_of(desks.begin(), desks.end(), [](const auto& desk) {
            return !desk->wantsInput() && desk->hasRoomForAnswers();
        });
        if (poll(watched.data(), watched.size(), work_left ? 0 : pollTimeoutMs(now)) < 0 && errno != EINTR)
            break;
        const Clock::time_point after = Clock::now();
        for (size_t k = 0; k < desks.size(); ++k)
            if (!keepsUp(*desks[k], watched[k + 2].revents, after))
                desks[k].reset();
        desks.erase(std::remove(desks.begin(), desks.end(), nullptr), desks.end());
        if (watched[1].revents & POLLIN)
            acceptDesks();
    }
}

// Reads, answers and writes what the desk's socket allows; false when the
// desk left, broke the stream, stalled or stopped reading.
bool CitpPeer::keepsUp(CitpDeskConnection& desk, short events, Clock::time_point now)
{
    if (events & (POLLERR | POLLHUP | POLLNVAL))
        return false;
    if ((events & POLLIN) && !desk.readAvailable(now))
        return false;
    serve(desk);
    if (desk.overflowing() || !desk.writeAvailable(now))
        return false;
    return !desk.timedOut(now);
}

int CitpPeer::pollTimeoutMs(Clock::time_point now) const
{
    const auto next = std::min(next_announce, next_status);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::max<long long>(0, std::min<long long>(wait, 1000)));
}

// Desks beyond the most are let in and shown out at once, so a desk that
// connects over and over costs one socket for a moment.
void CitpPeer::acceptDesks()
{
    for (;;) {
        const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (desks.size() >= kMostDesks) {
            close(fd);
            continue;
        }
        desks.push_back(std::make_unique<CitpDeskConnection>(fd, Clock::now()));
    }
}

// Answers what the desk asked, as far as there is room.
void CitpPeer::serve(CitpDeskConnection& desk)
{
    MsexRequest request;
    bool refused = false;
    while (desk.hasRoomForAnswers() && desk.takeRequest(&request, &refused))
        answerOne(desk, std::move(request), refused);
}

void CitpPeer::answerOne(CitpDeskConnection& desk, MsexRequest request, bool refused)
{
    const uint16_t version = request.version >= Citp::kMsex10 && request.version <= Citp::kMsex12
                                 ? request.version
                                 : Citp::kMsex12;
    if (refused) {
        desk.queue(CitpMessageBuilder::nack(version, request.request_index, request.type));
        return;
    }
    // Many thumbnails go one at a time, each when the one before has room;
    // numbers of empty slots are passed over (none left: one Nack).
    if (request.type == Citp::kGETh && (request.every || request.elements.size() > 1)) {
        const std::vector<uint8_t> filled = library.elementNumbers();
        if (!request.every)
            request.elements.erase(std::remove_if(request.elements.begin(), request.elements.end(),
                                                  [&filled](uint8_t number) {
                                                      return !std::binary_search(filled.begin(), filled.end(), number);
                                                  }),
                                   request.elements.end());
        else
            request.elements = filled;
        request.every = false;
        if (request.elements.size() > 1) {
            MsexRequest rest = request;
            rest.elements.erase(rest.elements.begin());
            request.elements.resize(1);
            desk.putBack(std::move(rest));
        }
    }
    for (std::string& reply : library.answer(request))
        desk.queue(std::move(reply));
    if (request.type == Citp::kCInf)
        desk.setVersion(library.chosenVersion(request));
    else if (desk.version() == 0)
        desk.setVersion(version); // an older desk, asking straight away
}

void CitpPeer::greetOlderDesks(Clock::time_point now)
{
    for (const auto& desk : desks)
        if (desk->version() == 0 && now - desk->connectedAt() >= kClientInfoWait) {
            desk->setVersion(Citp::kMsex10);
            desk->queue(library.serverInfo(Citp::kMsex10));
        }
}

void CitpPeer::refreshLibrary()
{
    std::shared_ptr<const std::vector<SlotReport>> slots = setup.slots ? setup.slots() : nullptr;
    if (!slots || slots == seen_slots)
        return;
    seen_slots = slots;
    std::vector<uint8_t> changed;
    library.update(*slots, &changed);
    if (changed.empty())
        return;
    const uint8_t flags = Citp::kElementsUpdated | Citp::kElementsAddedOrRemoved;
    for (const auto& desk : desks)
        if (desk->version() != 0)
            desk->queue(CitpMessageBuilder::libraryUpdate(desk->version(), CitpMediaLibrary::kLibrary, flags, changed));
}

void CitpPeer::announce()
{
    const uint32_t from = setup.announce_address ? setup.announce_address() : 0;
    if (from != 0) {
        in_addr interface_address{};
        interface_address.s_addr = htonl(from);
        setsockopt(announce_fd, IPPROTO_IP, IP_MULTICAST_IF, &interface_address, sizeof interface_address);
    }
    const std::string message =
        CitpMessageBuilder::peerLocation(static_cast<uint16_t>(tcp_port), setup.identity.name, "Running");
    for (uint32_t group : {Citp::kMulticastGroup, Citp::kOldMulticastGroup}) {
        const sockaddr_in to = ipv4(group, Citp::kPort);
        sendto(announce_fd, message.data(), message.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    }
}

void CitpPeer::sendLayerStatus()
{
    if (desks.empty())
        return;
    const std::vector<int> contents = setup.contents ? setup.contents() : std::vector<int>{};
    for (const auto& desk : desks)
        if (desk->version() != 0)
            desk->queueIfIdle(library.layerStatus(desk->version(), contents));
}

} // namespace Spectrafox
