#include "network/artnet/artnet_packet_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Spectrafox::ArtnetPacketKind;
using Spectrafox::ArtnetPacketParser;
using Spectrafox::Artnet::DmxUniverse;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kPrevious = 0xAA; // what every channel held before the packet

Bytes header(uint8_t opcode_lo, uint8_t opcode_hi)
{
    return {'A', 'r', 't', '-', 'N', 'e', 't', 0, opcode_lo, opcode_hi};
}

// ArtDmx with the given SubUni, Net and Length field, carrying data_bytes
// channel values 1, 2, 3, ... (whatever Length claims).
Bytes artDmx(uint8_t sub_uni, uint8_t net, int length_field, int data_bytes)
{
    Bytes packet = header(0x00, 0x50);
    const uint8_t rest[] = {0, 14, 0x01, 0x00, sub_uni, net,
                            static_cast<uint8_t>(length_field >> 8),
                            static_cast<uint8_t>(length_field & 0xFF)};
    packet.insert(packet.end(), std::begin(rest), std::end(rest));
    for (int i = 0; i < data_bytes; ++i)
        packet.push_back(static_cast<uint8_t>(i + 1));
    return packet;
}

Bytes cut(Bytes packet, std::size_t size)
{
    packet.resize(size);
    return packet;
}

struct ParseCase {
    std::string name;
    Bytes datagram;
    ArtnetPacketKind kind;
    int channels_set; // channels 1..n now hold 1..n, the rest kept kPrevious
};

class ArtnetPacketParserTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ArtnetPacketParserTest, RecognisesAndCopiesOnlyWhatTheDatagramCarries)
{
    const ParseCase& c = GetParam();
    ArtnetPacketParser parser(2, 3);
    DmxUniverse dmx512;
    dmx512.fill(kPrevious);
    // Exactly as many bytes as were received, so reading past them is caught
    // by the address sanitizer.
    std::vector<uint8_t> received(c.datagram);
    const auto result = parser.parse(received.data(), static_cast<long>(received.size()), dmx512);

    EXPECT_EQ(result.kind, c.kind);
    EXPECT_EQ(result.channels_updated, c.channels_set > 0);
    for (int ch = 1; ch <= 512; ++ch) {
        const int expected = ch <= c.channels_set ? ch & 0xFF : kPrevious;
        ASSERT_EQ(dmx512[ch - 1], expected) << "channel " << ch;
    }
}

const uint8_t kOurs = 0x23; // sub-net 2, universe 3

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, ArtnetPacketParserTest,
    ::testing::Values(
        ParseCase{"PollOfTenBytes", header(0x00, 0x20), ArtnetPacketKind::Poll, 0},
        ParseCase{"PollWithFlagsAndPriority", [] { Bytes b = header(0x00, 0x20);
                                                   b.insert(b.end(), {0, 14, 0x02, 0});
                                                   return b; }(),
                  ArtnetPacketKind::Poll, 0},
        ParseCase{"NineBytes", cut(header(0x00, 0x20), 9), ArtnetPacketKind::Unrecognised, 0},
        ParseCase{"ShortDatagram", Bytes{'A', 'r', 't'}, ArtnetPacketKind::Unrecognised, 0},
        ParseCase{"EmptyDatagram", Bytes{}, ArtnetPacketKind::Unrecognised, 0},
        ParseCase{"IdWithoutZeroByte", [] { Bytes b = header(0x00, 0x20); b[7] = '!'; return b; }(),
                  ArtnetPacketKind::Unrecognised, 0},
        ParseCase{"OtherProtocol", Bytes{'A', 'r', 't', '-', 'N', 'E', 't', 0, 0x00, 0x20},
                  ArtnetPacketKind::Unrecognised, 0},
        ParseCase{"PollOpCodeReversed", header(0x20, 0x00), ArtnetPacketKind::Unrecognised, 0},
        ParseCase{"DmxOpCodeReversed", [] { Bytes b = artDmx(kOurs, 0, 512, 512);
                                            b[8] = 0x50; b[9] = 0x00; return b; }(),
                  ArtnetPacketKind::Unrecognised, 0},
        ParseCase{"PollReplyIsNotHandled", header(0x00, 0x21), ArtnetPacketKind::Unrecognised, 0},
        ParseCase{"DmxOfEighteenBytes", artDmx(kOurs, 0, 512, 0), ArtnetPacketKind::Dmx, 0},
        ParseCase{"DmxHeaderCutAtTwelveBytes", cut(artDmx(kOurs, 0, 512, 0), 12),
                  ArtnetPacketKind::Dmx, 0},
        ParseCase{"LengthOne", artDmx(kOurs, 0, 1, 1), ArtnetPacketKind::Dmx, 0},
        ParseCase{"LengthZero", artDmx(kOurs, 0, 0, 4), ArtnetPacketKind::Dmx, 0},
        ParseCase{"LengthTwo", artDmx(kOurs, 0, 2, 2), ArtnetPacketKind::Dmx, 2},
        ParseCase{"LengthThreeOdd", artDmx(kOurs, 0, 3, 3), ArtnetPacketKind::Dmx, 3},
        ParseCase{"Length512", artDmx(kOurs, 0, 512, 512), ArtnetPacketKind::Dmx, 512},
        ParseCase{"Length513", artDmx(kOurs, 0, 513, 513), ArtnetPacketKind::Dmx, 0},
        ParseCase{"Length0xFFFF", artDmx(kOurs, 0, 0xFFFF, 512), ArtnetPacketKind::Dmx, 0},
        ParseCase{"ExtraBytesBeyondLength", artDmx(kOurs, 0, 4, 40), ArtnetPacketKind::Dmx, 4},
        // A datagram of 100 bytes claiming 512 channels carries 82 of them;
        // the other 430 keep their values instead of going dark.
        ParseCase{"Length512InHundredBytes", artDmx(kOurs, 0, 512, 82), ArtnetPacketKind::Dmx, 82},
        ParseCase{"LengthTwoButOneValueCarried", artDmx(kOurs, 0, 2, 1), ArtnetPacketKind::Dmx, 1},
        ParseCase{"AnyNetIsTaken", artDmx(kOurs, 0x7F, 512, 512), ArtnetPacketKind::Dmx, 512},
        ParseCase{"OtherUniverse", artDmx(0x24, 0, 512, 512), ArtnetPacketKind::Dmx, 0},
        ParseCase{"OtherSubnet", artDmx(0x33, 0, 512, 512), ArtnetPacketKind::Dmx, 0},
        ParseCase{"NibblesSwapped", artDmx(0x32, 0, 512, 512), ArtnetPacketKind::Dmx, 0}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

TEST(ArtnetPacketParser, FailedReceiveIsNoPacket)
{
    ArtnetPacketParser parser(0, 0);
    DmxUniverse dmx512{};
    const Bytes packet = artDmx(0x00, 0, 512, 512);
    const auto result = parser.parse(packet.data(), -1, dmx512);
    EXPECT_EQ(result.kind, ArtnetPacketKind::Unrecognised);
    EXPECT_FALSE(result.channels_updated);
}

TEST(ArtnetPacketParser, SuccessivePacketsOverwriteOnlyTheirChannels)
{
    ArtnetPacketParser parser(0, 0);
    DmxUniverse dmx512{};
    const Bytes full = artDmx(0x00, 0, 512, 512);
    parser.parse(full.data(), static_cast<long>(full.size()), dmx512);
    Bytes shorter = artDmx(0x00, 0, 4, 4);
    for (int i = 0; i < 4; ++i)
        shorter[18 + i] = 0;
    parser.parse(shorter.data(), static_cast<long>(shorter.size()), dmx512);
    EXPECT_EQ(dmx512[3], 0);
    EXPECT_EQ(dmx512[4], 5);
    EXPECT_EQ(dmx512[511], 512 & 0xFF);
}

} // namespace

namespace {

// With a Net configured the whole 15-bit Port-Address must match.
TEST(ArtnetPacketParser, ConfiguredNetMatchesTheWholePortAddress)
{
    const struct {
        const char* name;
        int configured_net;
        uint8_t sub_uni, net_byte;
        int carried;
    } cases[] = {
        {"net 0 configured, net 0 sent", 0, kOurs, 0x00, 512},
        {"net 0 configured, net 1 sent", 0, kOurs, 0x01, 0},
        {"net 5 configured, net 5 sent", 5, kOurs, 0x05, 512},
        {"net 5 configured, net 4 sent", 5, kOurs, 0x04, 0},
        {"net 5, other universe", 5, 0x24, 0x05, 0},
        {"net 127 configured, 127 sent", 127, kOurs, 0x7F, 512},
        {"top bit outside the Port-Address", 127, kOurs, 0xFF, 0},
        {"net 0 configured, top bit set", 0, kOurs, 0x80, 0},
        {"any net takes a top bit too", ArtnetPacketParser::kAnyNet, kOurs, 0xFF, 512},
    };
    for (const auto& c : cases) {
        ArtnetPacketParser parser(2, 3, c.configured_net);
        DmxUniverse dmx512{};
        const Bytes packet = artDmx(c.sub_uni, c.net_byte, 512, 512);
        const auto result = parser.parse(packet.data(), static_cast<long>(packet.size()), dmx512);
        EXPECT_EQ(result.kind, ArtnetPacketKind::Dmx) << c.name;
        EXPECT_EQ(result.channels_carried, c.carried) << c.name;
        EXPECT_EQ(dmx512[0], c.carried ? 1 : 0) << c.name;
    }
}

TEST(ArtnetPacketParser, ArtSyncIsRecognisedAndCarriesNoChannels)
{
    ArtnetPacketParser parser(2, 3);
    DmxUniverse dmx512{};
    const struct {
        const char* name;
        Bytes datagram;
        ArtnetPacketKind kind;
    } cases[] = {
        {"ArtSync of 14 bytes", [] { Bytes b = header(0x00, 0x52); b.insert(b.end(), {0, 14, 0, 0}); return b; }(),
         ArtnetPacketKind::Sync},
        {"ArtSync header only", header(0x00, 0x52), ArtnetPacketKind::Sync},
        {"OpCode reversed", header(0x52, 0x00), ArtnetPacketKind::Unrecognised},
        {"cut to nine bytes", cut(header(0x00, 0x52), 9), ArtnetPacketKind::Unrecognised},
    };
    for (const auto& c : cases) {
        const auto result = parser.parse(c.datagram.data(), static_cast<long>(c.datagram.size()), dmx512);
        EXPECT_EQ(result.kind, c.kind) << c.name;
        EXPECT_FALSE(result.channels_updated) << c.name;
    }
    EXPECT_EQ(dmx512, DmxUniverse{});
}

} // namespace
