// The receiver on a real UDP socket, in a namespace of the test's own that
// holds only loopback: nothing sent here can leave the machine.
#include "artnet_receiver.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "canvas/canvas.h"
#include "canvas/canvas_manager.h"
#include "platform/graphics/display_options.h"
#include "support/eventually.h"
#include "support/artnet_peer.h"
#include "support/net_namespace.h"
#include "support/temp_dir.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

constexpr int kSubnet = 2;
constexpr int kUniverse = 3;
constexpr int kStart = 1;
constexpr auto kPatience = 5s; // every wait below ends by then


// Runs `work` on a helper thread; false if it did not finish in time. The
// process is then ended, as a hung receiver would hang the whole suite.
bool finishesWithin(std::chrono::milliseconds limit, std::function<void()> work)
{
    auto done = std::async(std::launch::async, std::move(work));
    if (done.wait_for(limit) == std::future_status::ready)
        return true;
    ADD_FAILURE() << "still running after " << limit.count() << " ms";
    std::fflush(stdout);
    std::_Exit(1);
}

// ArtDmx that sets block channel 1 (content) of canvas `canvas` to `value`.
std::vector<uint8_t> contentPacket(int canvas, uint8_t value)
{
    std::vector<uint8_t> channels(static_cast<std::size_t>(kStart - 1 + 20 * (canvas + 1)), 0);
    channels[static_cast<std::size_t>(kStart - 1 + 20 * canvas)] = value;
    return artDmx(kSubnet, kUniverse, channels);
}

// Sees every UDP datagram on loopback, the node's own replies included.
class LoopbackSniffer {
public:
    struct Seen {
        in_addr destination{};
        uint16_t source_port = 0, destination_port = 0;
        std::vector<uint8_t> payload;
    };

    LoopbackSniffer()
    {
        fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP));
        sockaddr_ll where{};
        where.sll_family = AF_PACKET;
        where.sll_protocol = htons(ETH_P_IP);
        where.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~LoopbackSniffer()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool ok() const { return fd >= 0; }

    // The next UDP datagram whose payload is an Art-Net packet with `opcode`.
    bool next(int opcode, Seen* out, std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        uint8_t frame[2048];
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd waiting{fd, POLLIN, 0};
            if (::poll(&waiting, 1, 50) != 1)
                continue;
            const ssize_t size = ::recv(fd, frame, sizeof frame, 0);
            if (parse(frame, size, out) && artnetOpCode(out->payload) == opcode)
                return true;
        }
        return false;
    }

private:
    static bool parse(const uint8_t* frame, ssize_t size, Seen* out)
    {
        if (size < static_cast<ssize_t>(sizeof(iphdr)))
            return false;
        const auto* ip = reinterpret_cast<const iphdr*>(frame);
        const std::size_t header = ip->ihl * 4u;
        if (ip->protocol != IPPROTO_UDP || size < static_cast<ssize_t>(header + sizeof(udphdr)))
            return false;
        const auto* udp = reinterpret_cast<const udphdr*>(frame + header);
        out->destination.s_addr = ip->daddr;
        out->source_port = ntohs(udp->source);
        out->destination_port = ntohs(udp->dest);
        out->payload.assign(frame + header + sizeof(udphdr), frame + size);
        return true;
    }
    int fd = -1;
};

class ArtnetReceiverUdp : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ns.ok())
            GTEST_SKIP() << ns.error();
        inside = std::make_unique<ScopedNetNamespace>(ns);
    }
    void TearDown() override { inside.reset(); }

    static std::unique_ptr<CanvasManager> headlessManager()
    {
        return std::make_unique<CanvasManager>(DisplayOptions::headless(160, 90));
    }

    NetNamespace ns;
    std::unique_ptr<ScopedNetNamespace> inside;
};

TEST_F(ArtnetReceiverUdp, AnnouncesItselfAndDmxReachesTheCanvases)
{
    LoopbackSniffer sniffer;
    ASSERT_TRUE(sniffer.ok());
    auto manager = headlessManager();
    const int group = manager->generateCanvasGroup(3, "CONTENT_EXAMPLE");
    ArtnetReceiver receiver(manager.get(), group, kUniverse, kSubnet, kStart, 1.0f, -1);

    // With only loopback there is no interface to report: the start-up reply
    // carries 0.0.0.0 and goes to 0.0.0.0, which the kernel delivers to
    // 127.0.0.1 on loopback.
    LoopbackSniffer::Seen reply;
    ASSERT_TRUE(sniffer.next(0x2100, &reply, kPatience));
    EXPECT_EQ(reply.payload.size(), 239u);
    EXPECT_EQ(reply.source_port, 6454);
    EXPECT_EQ(reply.destination_port, 6454);
    EXPECT_EQ(ntohl(reply.destination.s_addr), INADDR_LOOPBACK);
    for (int i = 10; i < 14; ++i)
        EXPECT_EQ(reply.payload[i], 0) << "byte " << i;
    EXPECT_EQ(reply.payload[19], kSubnet);
    EXPECT_EQ(reply.payload[190], kUniverse);

    UdpPeer desk;
    const std::vector<Canvas*> canvases = manager->getCanvasGroup(group);
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 6454, contentPacket(2, 77)));
    EXPECT_TRUE(eventually([&] { return canvases[2]->getContentData() == 77; }));
    EXPECT_EQ(canvases[0]->getContentData(), 0);

    // Another universe changes nothing.
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 6454, [] {
        auto p = contentPacket(2, 5);
        p[14] = 0x24;
        return p;
    }()));
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 6454, contentPacket(0, 9)));
    EXPECT_TRUE(eventually([&] { return canvases[0]->getContentData() == 9; }));
    // Neither the other universe nor the short packet for canvas 0 touched it.
    EXPECT_EQ(canvases[2]->getContentData(), 77);

    // Every ArtPoll is answered the same way.
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 6454, artPoll()));
    ASSERT_TRUE(sniffer.next(0x2100, &reply, kPatience));
    EXPECT_EQ(ntohl(reply.destination.s_addr), INADDR_LOOPBACK);
}

// NET= makes the whole Port-Address count and puts the Net into NetSwitch;
// the rest of the reply stays as it was.
TEST_F(ArtnetReceiverUdp, ConfiguredNetFiltersArtDmxAndIsReported)
{
    LoopbackSniffer sniffer;
    ASSERT_TRUE(sniffer.ok());
    auto manager = headlessManager();
    const int group = manager->generateCanvasGroup(1, "CONTENT_EXAMPLE");
    NetworkInputSettings settings;
    settings.artnet_net = 9;
    const Canvas* canvas = manager->getCanvasGroup(group)[0];
    std::atomic<int> passes{0};
    ArtnetReceiver::HostAccess host;
    host.canvases_updated = [&] { passes.fetch_add(1); };
    ArtnetReceiver receiver(manager.get(), group, kUniverse, kSubnet, kStart, 1.0f, -1, settings, host);
    LoopbackSniffer::Seen reply;
    ASSERT_TRUE(sniffer.next(0x2100, &reply, kPatience));
    ASSERT_EQ(reply.payload.size(), 239u);
    EXPECT_EQ(reply.payload[18], 9);
    EXPECT_EQ(reply.payload[19], kSubnet);
    EXPECT_EQ(reply.payload[190], kUniverse);

    UdpPeer desk;
    for (uint8_t net : {0, 8, 10, 0x89}) {
        auto packet = contentPacket(0, 50);
        packet[15] = net;
        ASSERT_TRUE(desk.sendTo("127.0.0.1", 6454, packet));
    }
    auto ours = contentPacket(0, 51);
    ours[15] = 9;
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 6454, ours));
    EXPECT_TRUE(eventually([&] { return canvas->getContentData() == 51; }));
    // Handled in order: none of the other Nets reached the channel map.
    EXPECT_EQ(passes.load(), 1);
}

TEST_F(ArtnetReceiverUdp, TruncatedDatagramKeepsTheChannelsItDoesNotCarry)
{
    auto manager = headlessManager();
    const int group = manager->generateCanvasGroup(2, "CONTENT_EXAMPLE");
    ArtnetReceiver receiver(manager.get(), group, kUniverse, kSubnet, kStart, 1.0f, -1);
    const std::vector<Canvas*> canvases = manager->getCanvasGroup(group);

    UdpPeer desk;
    std::vector<uint8_t> channels(40, 0);
    channels[0] = 11;  // canvas 0 content
    channels[20] = 22; // canvas 1 content
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 6454, artDmx(kSubnet, kUniverse, channels)));
    ASSERT_TRUE(eventually([&] { return canvases[1]->getContentData() == 22; }));

    // Claims 512 channels but carries 10: canvas 1's block is not in it.
    channels[0] = 33;
    std::vector<uint8_t> truncated = artDmx(kSubnet, kUniverse, channels);
    truncated[16] = 0x02;
    truncated[17] = 0x00;
    truncated.resize(18 + 10);
    ASSERT_TRUE(desk.sendTo("127.0.0.1", 6454, truncated));
    ASSERT_TRUE(eventually([&] { return canvases[0]->getContentData() == 33; }));
    EXPECT_EQ(canvases[1]->getContentData(), 22);
}

TEST_F(ArtnetReceiverUdp, StatusLedFollowsRecognisedTraffic)
{
    TempDir gpio;
    for (const char* name : {"export", "unexport", "gpio17/direction", "gpio17/value"})
        gpio.write(name, "");
    auto manager = headlessManager();
    const int group = manager->generateCanvasGroup(1, "CONTENT_EXAMPLE");
    const std::vector<Canvas*> canvases = manager->getCanvasGroup(group);
    auto value = [&] { return readFile(gpio.file("gpio17/value")); };
    {
        ArtnetReceiver::HostAccess host;
        host.gpio_root = gpio.path();
        host.is_root = true;
        ArtnetReceiver receiver(manager.get(), group, kUniverse, kSubnet, kStart, 1.0f, 17, host);
        EXPECT_EQ(readFile(gpio.file("export")), "17");
        EXPECT_EQ(readFile(gpio.file("gpio17/direction")), "out");
        EXPECT_EQ(value(), "1");

        UdpPeer desk;
        const char* expected[] = {"1", "1", "0", "1"};
        for (int packet = 1; packet <= 4; ++packet) {
            // Neither counts: not Art-Net, and an OpCode the node ignores.
            desk.sendTo("127.0.0.1", 6454, {'n', 'o', 'i', 's', 'e', 0, 0, 0, 0, 0, 0});
            desk.sendTo("127.0.0.1", 6454, {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x21});
            desk.sendTo("127.0.0.1", 6454, contentPacket(0, static_cast<uint8_t>(packet)));
            ASSERT_TRUE(eventually([&] { return canvases[0]->getContentData() == packet; }));
            EXPECT_TRUE(eventually([&] { return value() == expected[packet - 1]; }))
                << "after packet " << packet << ": " << value();
        }
    }
    EXPECT_EQ(value(), "0");
    EXPECT_EQ(readFile(gpio.file("unexport")), "17");
}

TEST_F(ArtnetReceiverUdp, StatusLedUntouchedWithoutRoot)
{
    TempDir gpio;
    for (const char* name : {"export", "unexport", "gpio17/direction", "gpio17/value"})
        gpio.write(name, "");
    {
        ArtnetReceiver::HostAccess host;
        host.gpio_root = gpio.path();
        host.is_root = false;
        ArtnetReceiver receiver(nullptr, 0, kUniverse, kSubnet, kStart, 1.0f, 17, host);
        UdpPeer desk;
        for (int i = 0; i < 4; ++i)
            desk.sendTo("127.0.0.1", 6454, artPoll());
    }
    for (const char* name : {"export", "unexport", "gpio17/direction", "gpio17/value"})
        EXPECT_EQ(readFile(gpio.file(name)), "") << name;
}

TEST_F(ArtnetReceiverUdp, ShutdownIsPromptWithoutTraffic)
{
    // Repeated, so the stop request also lands between the loop's check and
    // the blocking receive.
    for (int round = 0; round < 20; ++round) {
        auto receiver = std::make_unique<ArtnetReceiver>(nullptr, 0, kUniverse, kSubnet, kStart, 1.0f, -1);
        if (round % 2)
            std::this_thread::sleep_for(10ms);
        EXPECT_TRUE(finishesWithin(5000ms, [&] { receiver.reset(); }));
    }
}

TEST_F(ArtnetReceiverUdp, ShutdownIsPromptUnderAFlood)
{
    auto manager = headlessManager();
    const int group = manager->generateCanvasGroup(25, "CONTENT_EXAMPLE");
    auto receiver = std::make_unique<ArtnetReceiver>(manager.get(), group, kUniverse, kSubnet, 1, 1.0f, -1);
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        UdpPeer desk;
        const auto packet = artDmx(kSubnet, kUniverse, std::vector<uint8_t>(500, 200));
        while (flooding.load())
            for (int i = 0; i < 64; ++i)
                desk.sendTo("127.0.0.1", 6454, packet);
    });
    const std::vector<Canvas*> canvases = manager->getCanvasGroup(group);
    EXPECT_TRUE(eventually([&] { return canvases[24]->getContentData() == 200; }));
    EXPECT_TRUE(finishesWithin(5000ms, [&] { receiver.reset(); }));
    flooding.store(false);
    flood.join();
}

// Frames render on this thread while the listener writes the same canvases:
// the thread sanitizer build reports any unguarded access.
TEST_F(ArtnetReceiverUdp, DmxFlowsWhileFramesRender)
{
    auto manager = headlessManager();
    const int group = manager->generateCanvasGroup(25, "CONTENT_EXAMPLE");
    ArtnetReceiver receiver(manager.get(), group, kUniverse, kSubnet, 1, 1.0f, -1);
    std::atomic<bool> sending{true};
    std::thread desk_thread([&] {
        UdpPeer desk;
        std::vector<uint8_t> channels(500, 0);
        for (int step = 0; sending.load(); ++step) {
            for (std::size_t i = 0; i < channels.size(); ++i)
                channels[i] = static_cast<uint8_t>(step + i);
            desk.sendTo("127.0.0.1", 6454, artDmx(kSubnet, kUniverse, channels));
            if (step % 50 == 0)
                desk.sendTo("127.0.0.1", 6454, artPoll());
            std::this_thread::sleep_for(1ms);
        }
        channels.assign(channels.size(), 0);
        channels[20 * 24] = 123; // last canvas' content
        desk.sendTo("127.0.0.1", 6454, artDmx(kSubnet, kUniverse, channels));
    });
    const auto until = std::chrono::steady_clock::now() + 1500ms;
    int frames = 0;
    while (std::chrono::steady_clock::now() < until) {
        manager->renderFrame();
        ++frames;
    }
    sending.store(false);
    desk_thread.join();
    const std::vector<Canvas*> canvases = manager->getCanvasGroup(group);
    EXPECT_TRUE(eventually([&] {
        manager->renderFrame();
        return canvases[24]->getContentData() == 123;
    }));
    EXPECT_GT(frames, 0);
}

using ArtnetReceiverUdpDeathTest = ArtnetReceiverUdp;

// The child's standard output goes to `file`, so the exact bytes can be checked.
void redirectStdoutTo(const std::string& file)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
}

void startPrintingTo(const std::string& file)
{
    redirectStdoutTo(file);
    ArtnetReceiver receiver(nullptr, 0, 0, 0, 1, 1.0f, -1);
}

void startWithoutDescriptors(const std::string& file)
{
    redirectStdoutTo(file);
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_NOFILE, &none);
    ArtnetReceiver receiver(nullptr, 0, 0, 0, 1, 1.0f, -1);
}

TEST_F(ArtnetReceiverUdpDeathTest, PortTakenEndsWithTheBindMessage)
{
    TempDir dir;
    UdpPeer holder(6454);
    ASSERT_TRUE(holder.ok());
    EXPECT_EXIT(startPrintingTo(dir.file("stdout")), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile(dir.file("stdout")),
              "ArtnetReceiver: bind(): Kann Portnummern 6454 nicht binden (Address already in use)\n");
}

TEST_F(ArtnetReceiverUdpDeathTest, NoSocketEndsWithTheLatin1Message)
{
    TempDir dir;
    EXPECT_EXIT(startWithoutDescriptors(dir.file("stdout")), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile(dir.file("stdout")),
              "init_net: Kann Socket nicht \xF6" "ffnen ...(Too many open files)\n");
}

} // namespace
