// The receiver driven in-process through a fake socket and a fake clock: no
// network namespace, no GL. The *_udp_test files check the same receiver end
// to end on real sockets.
#include "artnet_receiver.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/show_clock.h"
#include "canvas/canvas.h"
#include "network/artnet/art_rdm_packets.h"
#include "network/artnet/art_timecode.h"
#include "network/rdm/rdm_message.h"
#include "support/artnet_peer.h"
#include "support/fake_datagram_socket.h"
#include "support/temp_dir.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t ip(int a, int b, int c, int d)
{
    return static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(b) << 16 |
           static_cast<uint32_t>(c) << 8 | static_cast<uint32_t>(d);
}

const DatagramSocket::Peer kDesk{ip(10, 0, 0, 5), 6454};
const DatagramSocket::Peer kOtherDesk{ip(10, 0, 0, 6), 6454};

std::vector<uint8_t> artSync()
{
    return {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x52, 0, 14, 0, 0};
}

// ArtDmx whose first channel, the content channel of canvas 0 at DMX
// address 1, is `value`.
std::vector<uint8_t> contentDmx(uint8_t value, int subnet = 0, int universe = 0)
{
    std::vector<uint8_t> channels(40, 0);
    channels[0] = value;
    return artDmx(subnet, universe, channels);
}

// 21 channels: the content channels of canvas 0 (channel 1) and canvas 1
// (channel 21), the last one carried.
std::vector<uint8_t> twoContentDmx(uint8_t first, uint8_t second)
{
    std::vector<uint8_t> channels(21, 0);
    channels[0] = first;
    channels[20] = second;
    return artDmx(0, 0, channels);
}

InterfaceAddressEntry ethernet(uint32_t address, uint32_t broadcast)
{
    return {"eth0", AF_INET, address, IFF_UP | IFF_BROADCAST, broadcast};
}

// One receiver on a fake socket, with two canvases and a clock of its own.
class Node {
public:
    explicit Node(NetworkInputSettings settings = defaults(), ArtnetReceiver::HostAccess host = quietHost(),
                  std::vector<InterfaceAddressEntry> interfaces = {ethernet(ip(192, 168, 1, 20),
                                                                            ip(192, 168, 1, 255))})
    {
        host.interface_addresses = [interfaces] { return interfaces; };
        host.now = [this] { return clock.now(); };
        host.canvases_updated = [this] { updates.fetch_add(1); };
        auto fake = std::make_unique<FakeDatagramSocket>();
        socket = fake.get();
        ArtnetReceiver::CanvasTarget target{{&first, &second}, 16.0f / 9.0f};
        receiver = std::make_unique<ArtnetReceiver>(target, settings, host, std::move(fake));
    }

    static NetworkInputSettings defaults()
    {
        NetworkInputSettings settings;
        settings.dmx_start = 1;
        return settings;
    }
    static ArtnetReceiver::HostAccess quietHost()
    {
        ArtnetReceiver::HostAccess host;
        host.is_root = false;
        host.console_line = [](const std::string&) {};
        host.soc_temperature = nullptr; // the real /sys stays untouched
        host.mac_address = nullptr;
        return host;
    }

    // Hands the datagram over and waits until the receiver has handled it.
    void deliver(const std::vector<uint8_t>& bytes, DatagramSocket::Peer from = kDesk)
    {
        socket->deliver(bytes, from);
        ASSERT_TRUE(socket->waitUntilIdle());
    }
    void timeOut()
    {
        socket->deliverTimeout();
        ASSERT_TRUE(socket->waitUntilIdle());
    }
    int content() const { return first.getContentData(); }

    FakeClock clock;
    Canvas first{"CONTENT_EXAMPLE"};
    Canvas second{"CONTENT_EXAMPLE"};
    std::atomic<int> updates{0};
    FakeDatagramSocket* socket = nullptr; // owned by the receiver
    std::unique_ptr<ArtnetReceiver> receiver;
};

TEST(ArtnetReceiverInProcess, AnnouncesAndAnswersEveryPollOnTheChosenBroadcast)
{
    struct Case {
        const char* name;
        int subnet, universe, net;
        std::vector<InterfaceAddressEntry> interfaces;
        uint32_t my_ip, destination;
    };
    const Case cases[] = {
        {"eth0", 0, 0, NetworkInputSettings::kAnyNet,
         {ethernet(ip(192, 168, 1, 20), ip(192, 168, 1, 255))}, ip(192, 168, 1, 20), ip(192, 168, 1, 255)},
        {"eth0 before wlan0, sub-net, universe and Net", 3, 9, 42,
         {{"wlan0", AF_INET, ip(10, 1, 1, 2), IFF_UP | IFF_BROADCAST, ip(10, 1, 1, 255)},
          ethernet(ip(2, 0, 0, 7), ip(2, 255, 255, 255))},
         ip(2, 0, 0, 7), ip(2, 255, 255, 255)},
        {"no interface: zero address", 1, 2, NetworkInputSettings::kAnyNet, {}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NetworkInputSettings settings = Node::defaults();
        settings.artnet_subnet = c.subnet;
        settings.artnet_universe = c.universe;
        settings.artnet_net = c.net;
        Node node(settings, Node::quietHost(), c.interfaces);
        node.deliver(artPoll());
        node.clock.advance(ArtPollLimiter::kWindow);
        node.deliver(artPoll());
        // Too short for an OpCode: not a poll.
        node.deliver({'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00});

        const std::vector<FakeDatagramSocket::Sent> sent = node.socket->sent();
        ASSERT_EQ(sent.size(), 3u); // the announcement and one per poll
        for (const FakeDatagramSocket::Sent& reply : sent) {
            EXPECT_EQ(reply.destination.address, c.destination);
            EXPECT_EQ(reply.destination.port, 6454);
            ASSERT_EQ(reply.bytes.size(), 239u);
            EXPECT_EQ(artnetOpCode(reply.bytes), 0x2100);
            const uint32_t my_ip = ip(reply.bytes[10], reply.bytes[11], reply.bytes[12], reply.bytes[13]);
            EXPECT_EQ(my_ip, c.my_ip);
            EXPECT_EQ(reply.bytes[18], c.net < 0 ? 0 : c.net);
            EXPECT_EQ(reply.bytes[19], c.subnet);
            EXPECT_EQ(reply.bytes[190], c.universe);
        }
    }
}

// A flood of polls gets a few replies a second, and the last poll is still
// answered once its window is over.
TEST(ArtnetReceiverInProcess, PollFloodIsAnsweredAFewTimesASecondAndTheLastPollToo)
{
    Node node;
    const std::size_t announced = node.socket->sent().size();
    for (int i = 0; i < 1000; ++i) {
        node.deliver(artPoll());
        node.clock.advance(std::chrono::milliseconds(1));
    }
    const std::size_t flooded = node.socket->sent().size() - announced;
    EXPECT_GE(flooded, 4u); // 0, 250, 500 and 750 ms
    EXPECT_LE(flooded, 5u);
    node.clock.advance(ArtPollLimiter::kWindow);
    node.timeOut(); // the receive's regular wake-up
    EXPECT_EQ(node.socket->sent().size() - announced, flooded + 1);
    node.clock.advance(ArtPollLimiter::kWindow);
    node.timeOut();
    EXPECT_EQ(node.socket->sent().size() - announced, flooded + 1); // nothing left to answer
}

TEST(ArtnetReceiverInProcess, OnlyArtDmxForThisNodeMovesTheCanvases)
{
    const auto withNet = [](std::vector<uint8_t> packet, uint8_t net) {
        packet[15] = net;
        return packet;
    };
    const auto withOpCode = [](std::vector<uint8_t> packet, uint8_t high) {
        packet[9] = high;
        return packet;
    };
    const auto withLength = [](std::vector<uint8_t> packet, uint16_t length) {
        packet[16] = static_cast<uint8_t>(length >> 8);
        packet[17] = static_cast<uint8_t>(length);
        return packet;
    };
    const auto cut = [](std::vector<uint8_t> packet, std::size_t size) {
        packet.resize(size);
        return packet;
    };
    struct Case {
        const char* name;
        int net; // the node's Net setting
        std::vector<uint8_t> packet;
        bool taken;
    };
    const Case cases[] = {
        {"ours", NetworkInputSettings::kAnyNet, contentDmx(7, 2, 5), true},
        {"ours, any Net byte", NetworkInputSettings::kAnyNet, withNet(contentDmx(7, 2, 5), 9), true},
        {"wrong universe", NetworkInputSettings::kAnyNet, contentDmx(7, 2, 6), false},
        {"wrong sub-net", NetworkInputSettings::kAnyNet, contentDmx(7, 3, 5), false},
        {"our Net", 9, withNet(contentDmx(7, 2, 5), 9), true},
        {"wrong Net", 9, withNet(contentDmx(7, 2, 5), 8), false},
        {"Net byte with the top bit", 9, withNet(contentDmx(7, 2, 5), 0x89), false},
        {"ArtNzs OpCode", NetworkInputSettings::kAnyNet, withOpCode(contentDmx(7, 2, 5), 0x51), false},
        {"one channel", NetworkInputSettings::kAnyNet, withLength(contentDmx(7, 2, 5), 1), false},
        {"513 channels", NetworkInputSettings::kAnyNet, withLength(contentDmx(7, 2, 5), 513), false},
        {"header only", NetworkInputSettings::kAnyNet, cut(contentDmx(7, 2, 5), 18), false},
        {"cut inside the header", NetworkInputSettings::kAnyNet, cut(contentDmx(7, 2, 5), 15), false},
        {"not Art-Net", NetworkInputSettings::kAnyNet, [&] {
             std::vector<uint8_t> packet = contentDmx(7, 2, 5);
             packet[0] = 'a';
             return packet;
         }(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NetworkInputSettings settings = Node::defaults();
        settings.artnet_subnet = 2;
        settings.artnet_universe = 5;
        settings.artnet_net = c.net;
        Node node(settings);
        node.first.setContentData(99);
        node.deliver(c.packet);
        EXPECT_EQ(node.content(), c.taken ? 7 : 99);
        EXPECT_EQ(node.updates.load(), c.taken ? 1 : 0);
    }
}

TEST(ArtnetReceiverInProcess, StatusLedTogglesFromTheThirdRecognisedPacket)
{
    TempDir gpio;
    for (const char* name : {"export", "unexport", "gpio17/direction", "gpio17/value"})
        gpio.write(name, "");
    const auto value = [&] { return readFile(gpio.file("gpio17/value")); };
    {
        ArtnetReceiver::HostAccess host = Node::quietHost();
        host.gpio_root = gpio.path();
        host.is_root = true;
        NetworkInputSettings settings = Node::defaults();
        settings.led_gpio_pin = 17;
        Node node(settings, host);
        EXPECT_EQ(readFile(gpio.file("export")), "17");
        EXPECT_EQ(readFile(gpio.file("gpio17/direction")), "out");
        EXPECT_EQ(value(), "1");
        // Recognised: a poll, our ArtDmx, another universe's ArtDmx, an ArtSync.
        const std::vector<uint8_t> recognised[] = {artPoll(), contentDmx(1), contentDmx(1, 0, 4), artSync(),
                                                   artPoll()};
        const char* expected[] = {"1", "1", "0", "1", "0"};
        for (std::size_t i = 0; i < std::size(recognised); ++i) {
            // Neither counts: not Art-Net, and an OpCode the node ignores.
            node.deliver({'n', 'o', 'i', 's', 'e', 0, 0, 0, 0, 0, 0});
            node.deliver({'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x21});
            node.timeOut();
            node.deliver(recognised[i]);
            EXPECT_EQ(value(), expected[i]) << "after recognised packet " << i + 1;
        }
    }
    EXPECT_EQ(value(), "0");
    EXPECT_EQ(readFile(gpio.file("unexport")), "17");
}

TEST(ArtnetReceiverInProcess, ArtSyncHoldsArtDmxAndFallsBackAfterFourSeconds)
{
    Node node;
    node.deliver(contentDmx(1));
    EXPECT_EQ(node.content(), 1) << "before any ArtSync, ArtDmx is applied at once";

    node.deliver(artSync());
    node.deliver(twoContentDmx(2, 5));
    EXPECT_EQ(node.content(), 1) << "held until the next ArtSync";
    EXPECT_EQ(node.second.getContentData(), 0);
    node.deliver(artSync(), kOtherDesk);
    EXPECT_EQ(node.content(), 1) << "an ArtSync from another controller is ignored";
    node.deliver(artSync());
    EXPECT_EQ(node.content(), 2);
    EXPECT_EQ(node.second.getContentData(), 5) << "every channel of the held frame, the last one too";

    node.deliver(contentDmx(3));
    node.clock.advance(3999ms);
    node.timeOut();
    EXPECT_EQ(node.content(), 2) << "still synchronous just before 4 s";
    node.clock.advance(1ms);
    node.timeOut();
    EXPECT_EQ(node.content(), 3) << "4 s without ArtSync: the held frame is applied";

    node.deliver(contentDmx(4));
    EXPECT_EQ(node.content(), 4) << "back to applying at once";
}

// ArtTimeCode reaches the show clock with its sender; broken ones and a
// flood from a thousand other senders change nothing; a master's timecode
// goes where the ArtPollReply goes.
TEST(ArtnetReceiverInProcess, TimecodeReachesTheShowClockAndIsSentLikeTheReply)
{
    FakeClock steady;
    ShowClock show_clock({}, [&steady] { return steady.now(); });
    ArtnetReceiver::HostAccess host = Node::quietHost();
    host.on_timecode = [&show_clock](const Timecode& tc, uint32_t sender) { show_clock.takeTimecode(tc, sender); };
    Node node(Node::defaults(), host);
    Timecode tc;
    tc.hours = 1;
    tc.frames = 10;
    const ArtTimeCode::Bytes good = ArtTimeCode::build(tc);
    node.deliver(std::vector<uint8_t>(good.begin(), good.end()));
    std::vector<uint8_t> bad(good.begin(), good.end());
    bad[16] = 60; // minutes
    node.deliver(bad);
    node.deliver(std::vector<uint8_t>(good.begin(), good.end() - 1));
    for (uint32_t sender = 1; sender <= 1000; ++sender) {
        tc.minutes = static_cast<int>(sender % 60);
        const ArtTimeCode::Bytes other = ArtTimeCode::build(tc);
        node.deliver(std::vector<uint8_t>(other.begin(), other.end()), {ip(10, 9, sender >> 8 & 0xFF, sender & 0xFF), 6454});
    }
    const ShowClock::Snapshot view = show_clock.snapshot();
    EXPECT_EQ(view.state, ShowClock::State::Chase);
    EXPECT_EQ(view.source, kDesk.address);
    EXPECT_NEAR(view.show_seconds, 3600.4, 1e-6);
    EXPECT_NE(view.other_source, 0u);

    node.receiver->sendTimecode(tc);
    const std::vector<FakeDatagramSocket::Sent> sent = node.socket->sent();
    ASSERT_EQ(sent.size(), 2u); // the announcement, then the timecode
    EXPECT_EQ(sent[1].destination.address, ip(192, 168, 1, 255));
    EXPECT_EQ(sent[1].destination.port, 6454);
    const ArtTimeCode::Bytes expected = ArtTimeCode::build(tc);
    EXPECT_EQ(sent[1].bytes, std::vector<uint8_t>(expected.begin(), expected.end()));
}

TEST(ArtnetReceiverInProcess, ShutdownWakesTheWaitingReceive)
{
    for (int round = 0; round < 20; ++round) {
        Node node;
        if (round % 2)
            node.deliver(contentDmx(static_cast<uint8_t>(round)));
        const auto start = std::chrono::steady_clock::now();
        node.receiver.reset();
        // The fake's receive waits 10 s unless woken.
        ASSERT_LT(std::chrono::steady_clock::now() - start, 5s) << "round " << round;
    }
}

} // namespace

namespace {

// What a desk sends to address a node on sub-net 0, universe 0.
std::vector<uint8_t> request(uint16_t opcode, std::size_t size)
{
    std::vector<uint8_t> bytes(size, 0);
    const uint8_t head[] = {'A', 'r', 't', '-', 'N', 'e', 't', 0, static_cast<uint8_t>(opcode),
                            static_cast<uint8_t>(opcode >> 8), 0, 14};
    std::copy(std::begin(head), std::end(head), bytes.begin());
    return bytes;
}

std::vector<uint8_t> todRequest()
{
    std::vector<uint8_t> bytes = request(0x8000, 25);
    bytes[23] = 1; // one address: 0x00
    return bytes;
}

std::vector<uint8_t> artAddress(uint8_t sw_out, uint8_t command)
{
    std::vector<uint8_t> bytes = request(0x6000, 107);
    bytes[12] = bytes[104] = 0x7F; // Net and sub-net unchanged
    bytes[100] = sw_out;
    bytes[106] = command;
    std::copy_n("Stage L", 7, &bytes[14]);
    return bytes;
}

std::vector<uint8_t> dataRequest(uint8_t code)
{
    std::vector<uint8_t> bytes = request(0x2700, 40);
    bytes[17] = code;
    return bytes;
}

const RdmUid kNodeUid(0x7FF0, 0x0A0B0C0D);

std::vector<uint8_t> artRdm(uint8_t command_class, uint16_t pid, std::vector<uint8_t> data = {})
{
    RdmMessage message;
    message.destination = kNodeUid;
    message.source = RdmUid(0x7A70, 1);
    message.port_or_response = 1;
    message.command_class = command_class;
    message.pid = pid;
    message.data = std::move(data);
    return ArtRdmPackets::rdm(0, 0, message.build());
}

NetworkInputSettings remoteSettings(bool rdm, bool remote_config, int http_port = 0)
{
    NetworkInputSettings settings = Node::defaults();
    settings.remote.rdm = rdm;
    settings.remote.remote_config = remote_config;
    settings.remote.http_port = http_port;
    settings.remote.uid = kNodeUid.text();
    return settings;
}

TEST(ArtnetReceiverInProcess, DeskAddressingIsAnsweredOnlyWhereSwitchedOn)
{
    struct Case {
        const char* name;
        NetworkInputSettings settings;
        std::vector<uint8_t> packet;
        uint16_t answer; // 0: none
        uint32_t destination;
    };
    const uint32_t broadcast = ip(192, 168, 1, 255);
    const Case cases[] = {
        {"off: ArtTodRequest", Node::defaults(), todRequest(), 0, 0},
        {"off: ArtRdm", Node::defaults(), artRdm(0x20, 0x0060), 0, 0},
        {"off: ArtAddress", Node::defaults(), artAddress(0x83, 0), 0, 0},
        {"off: ArtDataRequest", Node::defaults(), dataRequest(1), 0, 0},
        {"RDM: ArtTodRequest", remoteSettings(true, false), todRequest(), 0x8100, broadcast},
        {"RDM: ArtRdm", remoteSettings(true, false), artRdm(0x20, 0x0060), 0x8300, kDesk.address},
        {"RDM alone: ArtAddress", remoteSettings(true, false), artAddress(0x83, 0), 0, 0},
        {"remote config: ArtAddress", remoteSettings(false, true), artAddress(0x83, 0), 0x2100, broadcast},
        {"remote config: ArtRdm", remoteSettings(false, true), artRdm(0x20, 0x0060), 0, 0},
        {"status page: ArtDataRequest", remoteSettings(true, false, 8080), dataRequest(1), 0x2800, kDesk.address},
        {"no status page: ArtDataRequest", remoteSettings(true, true), dataRequest(1), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Node node(c.settings);
        ASSERT_TRUE(node.socket->waitUntilIdle());
        const std::vector<FakeDatagramSocket::Sent> announced = node.socket->sent();
        ASSERT_EQ(announced.size(), 1u);
        EXPECT_EQ(announced[0].bytes[23], c.settings.remote.rdm ? 0x02 : 0x00); // Status1: RDM capable
        node.clock.advance(1s);
        node.deliver(c.packet);
        const std::vector<FakeDatagramSocket::Sent> sent = node.socket->sent();
        ASSERT_EQ(sent.size(), c.answer ? 2u : 1u);
        if (!c.answer)
            continue;
        EXPECT_EQ(sent[1].bytes[8] | sent[1].bytes[9] << 8, c.answer); // the opcode
        EXPECT_EQ(sent[1].destination.address, c.destination);
        if (c.answer == 0x2100) { // the new short name and universe 3
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(&sent[1].bytes[26])), "Stage L");
            EXPECT_EQ(sent[1].bytes[190], 3);
        }
    }
    Node node(remoteSettings(true, false, 8080));
    node.deliver(dataRequest(2));
    const std::vector<uint8_t> reply = node.socket->sent().back().bytes;
    EXPECT_EQ(std::string(reply.begin() + 20, reply.end()), std::string("http://192.168.1.20:8080/manual", 32));
}

// The start address and universe move at the next packet, with no dark
// frame in between, and settings.txt keeps them for the next start.
TEST(ArtnetReceiverInProcess, TheDeskMovesTheStartAddressAndUniverseLiveAndSettingsKeepThem)
{
    TempDir dir;
    SettingsFile settings_file(dir.file("settings.txt"));
    ArtnetReceiver::HostAccess host = Node::quietHost();
    host.settings_file = &settings_file;
    Node node(remoteSettings(true, true), host);
    node.deliver(twoContentDmx(7, 9));
    EXPECT_EQ(node.content(), 7);

    node.deliver(artRdm(0x30, 0x00F0, {0, 21})); // SET DMX_START_ADDRESS 21
    RdmMessage response;
    const std::vector<uint8_t> answer = node.socket->sent().back().bytes;
    ASSERT_EQ(RdmMessage::parse(answer.data() + 24, answer.size() - 24, &response), RdmMessage::Parse::Ok);
    EXPECT_EQ(response.port_or_response, 0x00); // ACK
    EXPECT_EQ(node.content(), 7);               // nothing moves before the next packet
    node.deliver(twoContentDmx(7, 9));
    EXPECT_EQ(node.content(), 9);

    node.deliver(artRdm(0x30, 0x0082, {'S', 't', 'a', 'g', 'e', ' ', 'l', 'e', 'f', 't'})); // DEVICE_LABEL
    node.deliver(artAddress(0x83, 0x00)); // universe 3
    node.deliver(contentDmx(5, 0, 0));
    EXPECT_EQ(node.content(), 9);
    node.deliver(twoContentDmx(0, 6));
    EXPECT_EQ(node.content(), 9);
    std::vector<uint8_t> channels(21, 0);
    channels[20] = 6;
    node.deliver(artDmx(0, 3, channels));
    EXPECT_EQ(node.content(), 6);
    EXPECT_EQ(readFile(dir.file("settings.txt")), "DMX_START=21\n"); // one save a second at most
    node.receiver.reset();                                           // the rest at the end
    EXPECT_EQ(readFile(dir.file("settings.txt")),
              "DMX_START=21\nDEVICE_LABEL=Stage left\nSHORT_NAME=Stage L\nUNIVERSE=3\n");
}

} // namespace
