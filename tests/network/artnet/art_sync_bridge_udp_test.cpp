// ArtSync across several nodes: a desk and two nodes, each in a namespace of
// the test's own, plugged into one private bridge. The desk broadcasts ArtDmx
// and ArtSync; both nodes must change on the ArtSync, not before, and fall
// back to immediate mode 4 s after the last one.
#include "artnet_receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/canvas_manager.h"
#include "platform/graphics/display_options.h"
#include "support/eventually.h"
#include "support/artnet_peer.h"
#include "support/net_namespace.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kBroadcast = "10.81.0.255";

std::vector<uint8_t> artSync()
{
    return {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x52, 0, 14, 0, 0};
}

std::vector<uint8_t> contentDmx(uint8_t value)
{
    std::vector<uint8_t> channels(20, 0);
    channels[0] = value;
    return artDmx(0, 0, channels);
}

// When each node's channel map ran, and with what content.
struct Applied {
    int node;
    Clock::time_point at;
    int content;
};

// One node: a receiver in its own namespace driving its own canvas group.
// The groups are all made before the first receiver starts: a listener
// thread may read the group list at any time.
class Node {
public:
    Node(int index, int group, CanvasManager& manager, const NetNamespace& ns, std::mutex& log_mutex,
         std::vector<Applied>& log)
        : canvas(manager.getCanvasGroup(group)[0])
    {
        ArtnetReceiver::HostAccess host;
        host.canvases_updated = [this, index, &log_mutex, &log] {
            std::lock_guard<std::mutex> lock(log_mutex);
            log.push_back({index, Clock::now(), canvas->getContentData()});
        };
        ScopedNetNamespace at(ns);
        receiver = std::make_unique<ArtnetReceiver>(&manager, group, 0, 0, 1, 1.0f, -1, host);
    }
    int content() const { return canvas->getContentData(); }

private:
    Canvas* canvas;
    std::unique_ptr<ArtnetReceiver> receiver;
};


TEST(ArtSyncOnABridge, BothNodesChangeOnTheSameArtSyncAndFallBackAfterFourSeconds)
{
    NetNamespace lan, desk_ns, ns1, ns2;
    for (const NetNamespace* ns : {&lan, &desk_ns, &ns1, &ns2})
        if (!ns->ok())
            GTEST_SKIP() << ns->error();
    std::string failed;
    ASSERT_TRUE(plugIntoBridge(lan, "br0", "p-desk", desk_ns, "desk0", "10.81.0.1/24", &failed)) << failed;
    ASSERT_TRUE(plugIntoBridge(lan, "br0", "p-node1", ns1, "eth0", "10.81.0.2/24", &failed)) << failed;
    ASSERT_TRUE(plugIntoBridge(lan, "br0", "p-node2", ns2, "eth0", "10.81.0.3/24", &failed)) << failed;

    std::unique_ptr<UdpPeer> desk;
    {
        ScopedNetNamespace at(desk_ns);
        desk = std::make_unique<UdpPeer>(6454);
    }
    ASSERT_TRUE(desk->ok());
    CanvasManager manager(DisplayOptions::headless(64, 36));
    std::mutex log_mutex;
    std::vector<Applied> log;
    const int group_one = manager.generateCanvasGroup(1, "CONTENT_EXAMPLE");
    const int group_two = manager.generateCanvasGroup(1, "CONTENT_EXAMPLE");
    Node one(1, group_one, manager, ns1, log_mutex, log), two(2, group_two, manager, ns2, log_mutex, log);
    auto both = [&](int value) { return one.content() == value && two.content() == value; };
    // Each node answers an ArtPoll after everything the desk sent before it:
    // once both replies are in, both nodes have handled the earlier packets.
    auto bothHandledAllSent = [&] {
        if (!desk->sendTo(kBroadcast, 6454, artPoll()))
            return false;
        Datagram reply;
        std::set<std::string> answered;
        while (answered.size() < 2 && desk->receiveOpCode(0x2100, &reply, 2000ms))
            answered.insert(reply.source);
        return answered.size() == 2;
    };

    // Immediate mode: ArtDmx shows at once.
    ASSERT_TRUE(desk->sendTo(kBroadcast, 6454, contentDmx(10)));
    ASSERT_TRUE(eventually([&] { return both(10); }, 5000ms));

    // The first ArtSync switches both nodes to synchronous mode: ArtDmx waits.
    ASSERT_TRUE(desk->sendTo(kBroadcast, 6454, artSync()));
    ASSERT_TRUE(desk->sendTo(kBroadcast, 6454, contentDmx(20)));
    ASSERT_TRUE(desk->sendTo(kBroadcast, 6454, contentDmx(21)));
    ASSERT_TRUE(bothHandledAllSent());
    EXPECT_TRUE(both(10)) << one.content() << " " << two.content();

    const Clock::time_point sync_sent = Clock::now();
    ASSERT_TRUE(desk->sendTo(kBroadcast, 6454, artSync()));
    ASSERT_TRUE(eventually([&] { return both(21); }, 5000ms));
    {
        std::lock_guard<std::mutex> lock(log_mutex);
        for (const Applied& a : log) {
            if (a.content == 20 || a.content == 21) {
                EXPECT_GE(a.at, sync_sent) << "node " << a.node << " showed " << a.content << " before the ArtSync";
            }
        }
    }

    // No more ArtSync: the held packet is shown once 4 s have passed since the
    // last one, which arrived after sync_sent.
    ASSERT_TRUE(desk->sendTo(kBroadcast, 6454, contentDmx(30)));
    ASSERT_TRUE(bothHandledAllSent());
    EXPECT_TRUE(both(21));
    ASSERT_TRUE(eventually([&] { return both(30); }, 8000ms));
    {
        std::lock_guard<std::mutex> lock(log_mutex);
        for (const Applied& a : log) {
            if (a.content == 30) {
                EXPECT_GE(a.at - sync_sent, 4000ms) << "node " << a.node << " fell back early";
            }
        }
    }
    // Immediate mode again.
    ASSERT_TRUE(desk->sendTo(kBroadcast, 6454, contentDmx(40)));
    EXPECT_TRUE(eventually([&] { return both(40); }, 5000ms));
}

} // namespace
