#include "network/artnet/art_poll_reply.h"
#include "network/interface_chooser.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <sys/socket.h>

#include <cstring>
#include <string>
#include <vector>

using Spectrafox::ArtPollReply;
using Spectrafox::InterfaceAddressEntry;
using Spectrafox::InterfaceChooser;

namespace {

constexpr uint32_t ip(int a, int b, int c, int d)
{
    return static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(b) << 16 |
           static_cast<uint32_t>(c) << 8 | static_cast<uint32_t>(d);
}

void putText(std::vector<uint8_t>& bytes, std::size_t offset, const char* text)
{
    std::memcpy(bytes.data() + offset, text, std::strlen(text));
}

// The reply written out field by field from the wire format, independently of
// the builder's constants.
std::vector<uint8_t> goldenReply()
{
    std::vector<uint8_t> g(239, 0);
    putText(g, 0, "Art-Net");
    g[8] = 0x00;
    g[9] = 0x21;
    g[10] = 192; g[11] = 168; g[12] = 1; g[13] = 20;
    g[14] = 0x36;
    g[15] = 0x19;
    g[19] = 2;    // SubSwitch
    g[21] = 0xFF; // Oem low byte
    putText(g, 26, "RPI Spectrafox");
    putText(g, 44, "Raspberry Pi Spectrafox");
    putText(g, 108, "#0001 [0000] Status: OK!");
    g[173] = 1;    // NumPortsLo
    g[174] = 0x80; // PortTypes: DMX output
    g[182] = 0x80; // GoodOutput
    g[190] = 3;    // SwOut
    return g;
}

// NetSwitch carries a configured Net; without one it stays 0 and the reply
// is the same as before, byte for byte.
TEST(ArtPollReply, NetSwitchIsTheOnlyByteTheNetChanges)
{
    const std::vector<uint8_t> expected = goldenReply();
    for (int net : {0, 1, 0x55, 127}) {
        const ArtPollReply::Bytes reply = ArtPollReply::build(ip(192, 168, 1, 20), 2, 3, net);
        for (std::size_t i = 0; i < reply.size(); ++i)
            EXPECT_EQ(reply[i], i == 18 ? net : expected[i]) << "net " << net << " byte " << i;
    }
}

TEST(ArtPollReply, AllBytesForAKnownConfiguration)
{
    const ArtPollReply::Bytes reply = ArtPollReply::build(ip(192, 168, 1, 20), 2, 3);
    const std::vector<uint8_t> expected = goldenReply();
    ASSERT_EQ(reply.size(), 239u);
    for (std::size_t i = 0; i < reply.size(); ++i)
        EXPECT_EQ(reply[i], expected[i]) << "byte " << i;
}

TEST(ArtPollReply, FieldsThatDesksRelyOn)
{
    const ArtPollReply::Bytes reply = ArtPollReply::build(0, 15, 15);
    EXPECT_EQ(reply[19], 15);
    EXPECT_EQ(reply[190], 15);
    for (int i = 10; i < 14; ++i)
        EXPECT_EQ(reply[i], 0) << i;
    for (int i = 40; i < 44; ++i) // the short name's terminator and the rest of its field
        EXPECT_EQ(reply[i], 0) << i;
    for (int i = 200; i < 239; ++i) // style, MAC, bind address, status 2, filler
        EXPECT_EQ(reply[i], 0) << i;
}

InterfaceAddressEntry ipv4(const char* name, uint32_t address, uint32_t broadcast)
{
    return {name, AF_INET, address, IFF_UP | IFF_BROADCAST, broadcast};
}

// An address added without a broadcast address ("ip addr add 10.1.2.3/24").
InterfaceAddressEntry withoutBroadcast(const char* name, uint32_t address, uint32_t reported,
                                       uint32_t netmask)
{
    return {name, AF_INET, address, IFF_UP | IFF_BROADCAST, reported, netmask};
}

InterfaceAddressEntry pointToPoint(const char* name, uint32_t address)
{
    return {name, AF_INET, address, IFF_UP | IFF_POINTOPOINT, ip(9, 9, 9, 9)};
}

const InterfaceAddressEntry kLoopback{"lo", AF_INET, ip(127, 0, 0, 1), IFF_UP | IFF_LOOPBACK, 0};
const InterfaceAddressEntry kEth0Ipv6{"eth0", AF_INET6, 0, IFF_UP | IFF_BROADCAST, 0};
const InterfaceAddressEntry kEth0Link{"eth0", AF_PACKET, 0, IFF_UP | IFF_BROADCAST, 0};
const InterfaceAddressEntry kNoAddress{"tun0", AF_UNSPEC, 0, IFF_UP, 0};

struct ChoiceCase {
    std::string name;
    std::vector<InterfaceAddressEntry> host;
    std::vector<std::string> list_order;
    uint32_t my_ip;
    uint32_t destination;
};

class InterfaceChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(InterfaceChoice, ReportsAndAddressesTheFirstInterface)
{
    const ChoiceCase& c = GetParam();
    const auto interfaces = InterfaceChooser::listInterfaces(c.host);
    std::vector<std::string> order;
    for (const auto& interface : interfaces)
        order.push_back(interface.name);
    EXPECT_EQ(order, c.list_order);

    const auto chosen = InterfaceChooser::choose(interfaces);
    EXPECT_EQ(chosen.my_ip_address, c.my_ip);
    EXPECT_EQ(chosen.send_broadcast_address, c.destination);

    // The reported address lands most significant byte first at offset 10.
    const ArtPollReply::Bytes reply = ArtPollReply::build(chosen.my_ip_address, 0, 0);
    EXPECT_EQ(reply[10], c.my_ip >> 24);
    EXPECT_EQ(reply[11], (c.my_ip >> 16) & 0xFF);
    EXPECT_EQ(reply[12], (c.my_ip >> 8) & 0xFF);
    EXPECT_EQ(reply[13], c.my_ip & 0xFF);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InterfaceChoice,
    ::testing::Values(
        ChoiceCase{"Eth0PreferredLoSkipped",
                   {kLoopback, ipv4("eth0", ip(192, 168, 1, 20), ip(192, 168, 1, 255)),
                    ipv4("wlan0", ip(10, 0, 0, 5), ip(10, 0, 0, 255))},
                   {"eth0", "wlan0"}, ip(192, 168, 1, 20), ip(192, 168, 1, 255)},
        ChoiceCase{"Eth0ListedLastStillFirst",
                   {ipv4("wlan0", ip(10, 0, 0, 5), ip(10, 0, 0, 255)), kLoopback,
                    ipv4("eth0", ip(192, 168, 1, 20), ip(192, 168, 1, 255))},
                   {"eth0", "wlan0"}, ip(192, 168, 1, 20), ip(192, 168, 1, 255)},
        ChoiceCase{"WirelessOnly",
                   {kLoopback, ipv4("wlan0", ip(10, 0, 0, 5), ip(10, 0, 0, 255))},
                   {"wlan0"}, ip(10, 0, 0, 5), ip(10, 0, 0, 255)},
        ChoiceCase{"TwoAddressesOnEth0LastFoundWins",
                   {ipv4("eth0", ip(2, 0, 0, 1), ip(2, 255, 255, 255)),
                    ipv4("eth0", ip(192, 168, 1, 20), ip(192, 168, 1, 255))},
                   {"eth0", "eth0"}, ip(192, 168, 1, 20), ip(192, 168, 1, 255)},
        ChoiceCase{"NoBroadcastGivesZero",
                   {kLoopback, pointToPoint("ppp0", ip(100, 64, 0, 7)),
                    ipv4("wlan0", ip(10, 0, 0, 5), ip(10, 0, 0, 255))},
                   {"ppp0", "wlan0"}, ip(100, 64, 0, 7), 0},
        ChoiceCase{"OtherFamiliesAndAddresslessSkipped",
                   {kEth0Link, kEth0Ipv6, kNoAddress, ipv4("eth1", ip(172, 16, 0, 2), ip(172, 16, 0, 255))},
                   {"eth1"}, ip(172, 16, 0, 2), ip(172, 16, 0, 255)},
        ChoiceCase{"BroadcastEqualToTheAddressBecomesTheSubnetBroadcast",
                   {withoutBroadcast("eth0", ip(10, 1, 2, 3), ip(10, 1, 2, 3), ip(255, 255, 255, 0))},
                   {"eth0"}, ip(10, 1, 2, 3), ip(10, 1, 2, 255)},
        ChoiceCase{"ZeroBroadcastBecomesTheSubnetBroadcast",
                   {withoutBroadcast("eth0", ip(172, 20, 5, 9), 0, ip(255, 255, 240, 0))},
                   {"eth0"}, ip(172, 20, 5, 9), ip(172, 20, 15, 255)},
        ChoiceCase{"MissingBroadcastWithoutNetmaskStaysAsReported",
                   {withoutBroadcast("eth0", ip(10, 1, 2, 3), 0, 0)},
                   {"eth0"}, ip(10, 1, 2, 3), 0},
        ChoiceCase{"RealBroadcastIsKeptWhateverTheMask",
                   {withoutBroadcast("eth0", ip(10, 1, 2, 3), ip(10, 255, 255, 255), ip(255, 255, 255, 0))},
                   {"eth0"}, ip(10, 1, 2, 3), ip(10, 255, 255, 255)},
        ChoiceCase{"OnlyLoopbackGivesTheFallback", {kLoopback}, {""}, 0, 0},
        ChoiceCase{"NothingAtAllGivesTheFallback", {}, {""}, 0, 0},
        ChoiceCase{"LoopbackNamedOtherwiseIsKept",
                   {{"lo:1", AF_INET, ip(127, 0, 0, 2), IFF_UP | IFF_LOOPBACK, 0}},
                   {"lo:1"}, ip(127, 0, 0, 2), 0}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

TEST(InterfaceChoice, FallbackEntryIsAllZero)
{
    const auto interfaces = InterfaceChooser::listInterfaces({});
    ASSERT_EQ(interfaces.size(), 1u);
    EXPECT_EQ(interfaces[0].name, "");
    EXPECT_EQ(interfaces[0].ip_address, 0u);
    EXPECT_FALSE(interfaces[0].has_broadcast);
    EXPECT_EQ(interfaces[0].broadcast_address, 0u);
}

} // namespace
