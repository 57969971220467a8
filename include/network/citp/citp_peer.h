#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "network/citp/citp_desk_connection.h"
#include "network/citp/citp_media_library.h"

namespace Spectrafox {

// The node as a CITP/MSEX media server: it announces itself (PINF PLoc)
// every second on both CITP multicast groups, and answers up to kMostDesks
// desks over TCP: server information, the slots as a media library with
// thumbnails, layer status four times a second, and library updates when
// slots change. One thread of its own, polling every socket without
// blocking; it reads what the render thread published and never waits on it.
class CitpPeer {
public:
    static constexpr size_t kMostDesks = 8;
    // Room for desks that connect faster than the thread takes them in.
    static constexpr int kListenBacklog = 128;
    static constexpr std::chrono::milliseconds kAnnounceEvery{1000};
    static constexpr std::chrono::milliseconds kLayerStatusEvery{250};
    // Desks before MSEX 1.2 send no CInf: they wait for the server's SInf.
    static constexpr std::chrono::milliseconds kClientInfoWait{2000};

    struct Setup {
        int port = 0; // 0: any free port (the one announced)
        CitpMediaLibrary::Identity identity;
        // Each called on the CITP thread; none may wait for the render loop.
        std::function<std::shared_ptr<const std::vector<SlotReport>>()> slots;
        std::function<std::vector<int>()> contents; // each canvas's content number
        // The IPv4 address (host order) announcements leave from; 0: the
        // system's choice.
        std::function<uint32_t()> announce_address;
    };

    explicit CitpPeer(Setup setup);
    ~CitpPeer();
    CitpPeer(const CitpPeer&) = delete;
    CitpPeer& operator=(const CitpPeer&) = delete;

    // False (with the reason in error()) when the sockets could not be had.
    bool running() const { return worker.joinable(); }
    const std::string& error() const { return failure; }
    int port() const { return tcp_port; }

private:
    using Clock = std::chrono::steady_clock;

    bool openSockets();
    void run();
    void announce();
    void refreshLibrary();
    void sendLayerStatus();
    void greetOlderDesks(Clock::time_point now);
    void acceptDesks();
    bool keepsUp(CitpDeskConnection& desk, short events, Clock::time_point now);
    void serve(CitpDeskConnection& desk);
    void answerOne(CitpDeskConnection& desk, MsexRequest request, bool refused);
    int pollTimeoutMs(Clock::time_point now) const;

    Setup setup;
    CitpMediaLibrary library;
    int listen_fd = -1;
    int announce_fd = -1;
    int wake_fd = -1;
    int tcp_port = 0;
    std::string failure;
    std::vector<std::unique_ptr<CitpDeskConnection>> desks;
    std::shared_ptr<const std::vector<SlotReport>> seen_slots;
    Clock::time_point next_announce;
    Clock::time_point next_status;
    std::atomic<bool> stopping{false};
    std::thread worker;
};

} // namespace Spectrafox
