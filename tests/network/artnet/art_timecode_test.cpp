#include "network/artnet/art_timecode.h"
#include "network/artnet/artnet_packet_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace Spectrafox;

namespace {

// ArtTimeCode written out from the standard's layout, independently of the
// builder's constants: ID, OpCode 0x9700 low byte first, ProtVer 14 high
// byte first, Filler1, StreamId, Frames, Seconds, Minutes, Hours, Type.
std::vector<uint8_t> wire(int frames, int seconds, int minutes, int hours, int type)
{
    std::vector<uint8_t> bytes = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x97, 0, 14, 0, 0};
    for (int field : {frames, seconds, minutes, hours, type})
        bytes.push_back(static_cast<uint8_t>(field));
    return bytes;
}

TEST(ArtTimeCode, ReadsTheStandardLayoutAndRefusesWhatLiesOutside)
{
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        bool taken;
        double seconds; // when taken
    } cases[] = {
        {"film 24: last frame", wire(23, 59, 59, 23, 0), true, 86399.0 + 23.0 / 24},
        {"EBU 25", wire(4, 3, 2, 1, 1), true, 3723.0 + 4.0 / 25},
        {"drop-frame: 00:01:00;02 is frame 1800", wire(2, 0, 1, 0, 2), true, 1800 * 1001.0 / 30000},
        {"drop-frame: 00:10:00;00 is frame 17982", wire(0, 0, 10, 0, 2), true, 17982 * 1001.0 / 30000},
        {"SMPTE 30", wire(29, 0, 0, 0, 3), true, 29.0 / 30},
        {"frames beyond film's rate", wire(24, 0, 0, 0, 0), false, 0},
        {"frames beyond SMPTE's rate", wire(30, 0, 0, 0, 3), false, 0},
        {"minutes over 59", wire(0, 0, 60, 0, 1), false, 0},
        {"hours over 23", wire(0, 0, 0, 24, 1), false, 0},
        {"type over 3", wire(0, 0, 0, 0, 4), false, 0},
        {"one byte short", [] { auto b = wire(1, 2, 3, 4, 1); b.pop_back(); return b; }(), false, 0},
        {"ProtVer 13", [] { auto b = wire(1, 2, 3, 4, 1); b[11] = 13; return b; }(), false, 0},
        {"OpCode bytes swapped", [] { auto b = wire(1, 2, 3, 4, 1); std::swap(b[8], b[9]); return b; }(),
         false, 0},
        {"longer datagram: the rest is ignored", [] { auto b = wire(1, 0, 0, 0, 1); b.resize(40, 0xFF); return b; }(),
         true, 1.0 / 25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Timecode tc;
        tc.hours = 7; // a refused packet leaves it alone
        ASSERT_EQ(ArtTimeCode::parse(c.bytes.data(), static_cast<long>(c.bytes.size()), &tc), c.taken);
        Artnet::DmxUniverse table{};
        const ArtnetParseResult seen = ArtnetPacketParser(0, 0).parse(c.bytes.data(), static_cast<long>(c.bytes.size()), table);
        EXPECT_EQ(seen.kind == ArtnetPacketKind::TimeCode, c.taken);
        if (!c.taken) {
            EXPECT_EQ(tc.hours, 7);
            continue;
        }
        EXPECT_NEAR(tc.toSeconds(), c.seconds, 1e-9);
        // The builder gives back the same 19 bytes, and the address survives
        // a round trip through seconds.
        const ArtTimeCode::Bytes built = ArtTimeCode::build(Timecode::fromSeconds(tc.toSeconds(), tc.type));
        EXPECT_EQ(std::vector<uint8_t>(built.begin(), built.end()),
                  std::vector<uint8_t>(c.bytes.begin(), c.bytes.begin() + 19));
    }
}

} // namespace
