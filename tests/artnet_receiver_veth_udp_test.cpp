// Two hosts joined by a private veth link, both namespaces of the test's own:
// a lighting desk and the node, whose link is named eth0 as on a Pi.
#include "artnet_receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "canvas/canvas.h"
#include "canvas/canvas_manager.h"
#include "platform/graphics/display_options.h"
#include "support/artnet_peer.h"
#include "support/net_namespace.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

constexpr const char* kNodeAddress = "10.77.0.2";
constexpr const char* kLinkBroadcast = "10.77.0.255";

void expectReplyFromNode(const Datagram& reply)
{
    EXPECT_EQ(reply.bytes.size(), 239u);
    EXPECT_EQ(reply.source, kNodeAddress);
    EXPECT_EQ(reply.source_port, 6454);
    EXPECT_EQ(reply.destination, kLinkBroadcast);
    ASSERT_GE(reply.bytes.size(), 14u);
    EXPECT_EQ(reply.bytes[10], 10);
    EXPECT_EQ(reply.bytes[11], 77);
    EXPECT_EQ(reply.bytes[12], 0);
    EXPECT_EQ(reply.bytes[13], 2);
}

TEST(ArtnetReceiverOnALink, DeskDiscoversTheNodeAndDrivesIt)
{
    NetNamespace desk, node;
    if (!desk.ok() || !node.ok())
        GTEST_SKIP() << desk.error() << node.error();
    std::string failed;
    ASSERT_TRUE(connectWithVeth(node, "eth0", "10.77.0.2/24", desk, "desk0", "10.77.0.1/24", &failed))
        << failed;

    std::unique_ptr<UdpPeer> console;
    {
        ScopedNetNamespace at(desk);
        console = std::make_unique<UdpPeer>(6454);
    }
    ASSERT_TRUE(console->ok());

    CanvasManager manager(DisplayOptions::headless(160, 90));
    const int group = manager.generateCanvasGroup(2, "CONTENT_EXAMPLE");
    std::unique_ptr<ArtnetReceiver> receiver;
    {
        ScopedNetNamespace at(node); // the listener thread starts in here
        receiver = std::make_unique<ArtnetReceiver>(&manager, group, 5, 1, 1, 1.0f, -1);
    }

    Datagram reply;
    ASSERT_TRUE(console->receiveOpCode(0x2100, &reply, 5000ms)) << "no start-up announcement";
    expectReplyFromNode(reply);

    ASSERT_TRUE(console->sendTo(kLinkBroadcast, 6454, artPoll()));
    ASSERT_TRUE(console->receiveOpCode(0x2100, &reply, 5000ms)) << "ArtPoll not answered";
    expectReplyFromNode(reply);
    EXPECT_EQ(reply.bytes[19], 1); // sub-net
    EXPECT_EQ(reply.bytes[190], 5); // universe

    std::vector<uint8_t> channels(40, 0);
    channels[20] = 42; // content of canvas 1
    ASSERT_TRUE(console->sendTo(kNodeAddress, 6454, artDmx(1, 5, channels)));
    Canvas* second = manager.getCanvasGroup(group)[1];
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (second->getContentData() != 42 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(second->getContentData(), 42);
    receiver.reset();
}

// Added without a broadcast address, the link reports the node's own address
// as broadcast: the replies must still go to the subnet's broadcast address.
TEST(ArtnetReceiverOnALink, ReplyReachesTheDeskWhenTheNodeHasNoBroadcastAddress)
{
    NetNamespace desk, node;
    if (!desk.ok() || !node.ok())
        GTEST_SKIP() << desk.error() << node.error();
    std::string failed;
    ASSERT_TRUE(connectWithVeth(node, "eth0", "10.77.0.2/24", desk, "desk0", "10.77.0.1/24", &failed,
                                false))
        << failed;

    std::unique_ptr<UdpPeer> console;
    {
        ScopedNetNamespace at(desk);
        console = std::make_unique<UdpPeer>(6454);
    }
    ASSERT_TRUE(console->ok());

    CanvasManager manager(DisplayOptions::headless(160, 90));
    const int group = manager.generateCanvasGroup(1, "CONTENT_EXAMPLE");
    std::unique_ptr<ArtnetReceiver> receiver;
    {
        ScopedNetNamespace at(node);
        receiver = std::make_unique<ArtnetReceiver>(&manager, group, 0, 0, 1, 1.0f, -1);
    }

    Datagram reply;
    ASSERT_TRUE(console->receiveOpCode(0x2100, &reply, 5000ms)) << "no start-up announcement";
    expectReplyFromNode(reply);
    ASSERT_TRUE(console->sendTo(kLinkBroadcast, 6454, artPoll()));
    ASSERT_TRUE(console->receiveOpCode(0x2100, &reply, 5000ms)) << "ArtPoll not answered";
    expectReplyFromNode(reply);
    receiver.reset();
}

} // namespace
