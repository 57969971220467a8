// sACN through the receiver on real UDP sockets, in a namespace of the test's
// own that holds only loopback. Named *_udp_test: the receiver binds 6454.
#include "artnet_receiver.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
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
#include "support/sacn_packets.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

constexpr int kSacnUniverse = 300;


// Channel 1 (canvas 0's content) set to `value`, from source `source`.
std::vector<uint8_t> contentFrom(uint16_t source, uint8_t sequence, uint8_t value, uint8_t priority = 100)
{
    SacnPacketFields fields;
    fields.universe = kSacnUniverse;
    fields.cid = sacnCid(source);
    fields.sequence = sequence;
    fields.priority = priority;
    fields.slots.assign(40, 0);
    fields.slots[0] = value;
    return sacnDataPacket(fields);
}

class SacnReceiverUdp : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ns.ok())
            GTEST_SKIP() << ns.error();
        inside = std::make_unique<ScopedNetNamespace>(ns);
        manager = std::make_unique<CanvasManager>(DisplayOptions::headless(160, 90));
        group = manager->generateCanvasGroup(2, "CONTENT_EXAMPLE");
        canvases = manager->getCanvasGroup(group);
    }
    void TearDown() override
    {
        receiver.reset();
        manager.reset();
        inside.reset();
    }

    // Sub-net 0, universe 0, canvases from channel 1; the lines said on the
    // console are kept.
    void start(NetworkInputSettings settings, std::vector<InterfaceAddressEntry> interfaces = {})
    {
        ArtnetReceiver::HostAccess host;
        host.interface_addresses = [interfaces] { return interfaces; };
        host.console_line = [this](const std::string& line) { said.push_back(line); };
        host.canvases_updated = [this] {
            std::lock_guard<std::mutex> lock(trace_mutex);
            trace.push_back(content());
        };
        receiver = std::make_unique<ArtnetReceiver>(manager.get(), group, 0, 0, 1, 1.0f, -1, settings, host);
    }
    static NetworkInputSettings sacnOn()
    {
        NetworkInputSettings settings;
        settings.sacn_universe = kSacnUniverse;
        return settings;
    }
    int content() const { return canvases[0]->getContentData(); }

    NetNamespace ns;
    std::unique_ptr<ScopedNetNamespace> inside;
    std::unique_ptr<CanvasManager> manager;
    int group = 0;
    std::vector<Canvas*> canvases;
    std::unique_ptr<ArtnetReceiver> receiver;
    std::vector<std::string> said;
    // canvas 0's content after every pass of the channel map
    std::mutex trace_mutex;
    std::vector<int> trace;
};

TEST_F(SacnReceiverUdp, UnicastDrivesTheCanvasesAndTheLatestProtocolWins)
{
    start(sacnOn());
    ASSERT_EQ(said.size(), 1u) << "no multicast interface here: one line says so";
    EXPECT_NE(said[0].find("only unicast"), std::string::npos) << said[0];
    UdpPeer desk;
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 5568, contentFrom(1, 0, 42)));
    EXPECT_TRUE(eventually([&] { return content() == 42; }));

    // Art-Net after sACN, then sACN again: each time the latest packet wins.
    std::vector<uint8_t> channels(40, 0);
    channels[0] = 7;
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 6454, artDmx(0, 0, channels)));
    EXPECT_TRUE(eventually([&] { return content() == 7; }));
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 5568, contentFrom(1, 1, 43)));
    EXPECT_TRUE(eventually([&] { return content() == 43; }));

    // Another universe, a late sequence number and preview data change nothing.
    std::vector<uint8_t> other = contentFrom(1, 2, 99);
    other[114] ^= 1;
    std::vector<uint8_t> preview = contentFrom(1, 3, 98);
    preview[112] = 0x80;
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 5568, other));
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 5568, contentFrom(1, 0, 97)));
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 5568, preview));
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 5568, contentFrom(1, 4, 44)));
    EXPECT_TRUE(eventually([&] { return content() == 44; }));
}

TEST_F(SacnReceiverUdp, WithoutTheKeyPort5568StaysFree)
{
    start(NetworkInputSettings{});
    EXPECT_TRUE(said.empty());
    UdpPeer other_program(5568);
    EXPECT_TRUE(other_program.ok());
}

TEST_F(SacnReceiverUdp, PortTakenSaysOneLineAndArtnetGoesOn)
{
    UdpPeer holder(5568);
    ASSERT_TRUE(holder.ok());
    start(sacnOn());
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0], "sACN: cannot bind UDP port 5568 (Address already in use); Art-Net goes on without sACN");
    UdpPeer desk;
    std::vector<uint8_t> channels(40, 0);
    channels[0] = 12;
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 6454, artDmx(0, 0, channels)));
    EXPECT_TRUE(eventually([&] { return content() == 12; }));
}

TEST_F(SacnReceiverUdp, FailedJoinSaysOneLinePerInterfaceAndUnicastStillWorks)
{
    // Loopback can take the group once multicast is on; the other name is no interface.
    ASSERT_TRUE(ns.run("ip link set lo multicast on"));
    InterfaceAddressEntry lo{"lo", AF_INET, 0x7F000001, IFF_UP | IFF_MULTICAST | IFF_LOOPBACK, 0};
    InterfaceAddressEntry missing{"nosuch0", AF_INET, 0x0A000001, IFF_UP | IFF_MULTICAST, 0};
    InterfaceAddressEntry no_multicast{"dummy9", AF_INET, 0x0A000002, IFF_UP, 0};
    start(sacnOn(), {lo, missing, lo, no_multicast});
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0], "sACN: cannot join 239.255.1.44 on nosuch0 (No such device); the other interfaces and "
                       "unicast still work");
    UdpPeer desk;
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 5568, contentFrom(1, 0, 55)));
    EXPECT_TRUE(eventually([&] { return content() == 55; }));
}

// Hostile traffic: every kind of broken packet, then a flood of 10,000
// forged sources sending zeros at the same priority. The real source keeps
// its channels and still drives them afterwards.
TEST_F(SacnReceiverUdp, HostileTrafficChangesNothing)
{
    start(sacnOn());
    UdpPeer desk, attacker;
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 5568, contentFrom(1, 0, 60)));
    ASSERT_TRUE(eventually([&] { return content() == 60; }));

    const std::vector<uint8_t> good = contentFrom(2, 0, 200);
    std::vector<std::vector<uint8_t>> broken;
    for (std::size_t cut = 0; cut < good.size(); cut += 7)
        broken.emplace_back(good.begin(), good.begin() + cut);
    for (std::size_t at : {0u, 4u, 16u, 21u, 38u, 43u, 108u, 115u, 117u, 118u, 119u, 121u, 123u, 124u}) {
        std::vector<uint8_t> spoiled = good;
        spoiled[at] ^= 0x5A;
        broken.push_back(spoiled);
    }
    std::vector<uint8_t> oversized = good;
    oversized.resize(2000, 0xFF);
    oversized[123] = 0x07;
    broken.push_back(oversized);
    for (const auto& packet : broken)
        attacker.sendTo("127.0.0.1", 5568, packet);
    for (uint16_t forged = 100; forged < 10100; ++forged)
        attacker.sendTo("127.0.0.1", 5568, contentFrom(forged, 0, 0));
    // The real source's next packet is seen; nothing else ever moved the channel.
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 5568, contentFrom(1, 1, 61)));
    EXPECT_TRUE(eventually([&] { return content() == 61; }));
    std::lock_guard<std::mutex> lock(trace_mutex);
    EXPECT_EQ(std::set<int>(trace.begin(), trace.end()), (std::set<int>{60, 61}));
    EXPECT_GT(trace.size(), SacnMerger::kMaxSources) << "the forged sources under the cap were merged";
}

TEST_F(SacnReceiverUdp, ShutdownIsPromptWhileSacnFlows)
{
    start(sacnOn());
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        ScopedNetNamespace at(ns);
        UdpPeer desk;
        for (uint8_t sequence = 0; flooding.load(); ++sequence)
            desk.sendTo("127.0.0.1", 5568, contentFrom(1, sequence, sequence));
    });
    ASSERT_TRUE(eventually([&] { return content() != 0; }));
    auto stopped = std::async(std::launch::async, [&] { receiver.reset(); });
    EXPECT_EQ(stopped.wait_for(5s), std::future_status::ready);
    flooding.store(false);
    flood.join();
    stopped.wait();
}

} // namespace
