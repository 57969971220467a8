#include "network/sacn/sacn_packet_parser.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/sacn_packets.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

constexpr int kUniverse = 7;

using Packet = std::vector<uint8_t>;

SacnParseResult parse(const Packet& p, int universe = kUniverse)
{
    return SacnPacketParser(universe).parse(p.data(), static_cast<long>(p.size()));
}

Packet goodPacket(std::vector<uint8_t> slots = std::vector<uint8_t>(512, 0))
{
    SacnPacketFields fields;
    fields.universe = kUniverse;
    fields.slots = std::move(slots);
    return sacnDataPacket(fields);
}

void set16(Packet& p, std::size_t at, unsigned value)
{
    p[at] = static_cast<uint8_t>(value >> 8);
    p[at + 1] = static_cast<uint8_t>(value);
}

TEST(SacnPacketParser, SoundPacketGivesItsFields)
{
    std::vector<uint8_t> slots(512);
    for (std::size_t i = 0; i < slots.size(); ++i)
        slots[i] = static_cast<uint8_t>(i * 7);
    SacnPacketFields fields;
    fields.universe = kUniverse;
    fields.slots = slots;
    fields.priority = 150;
    fields.sequence = 201;
    fields.cid = sacnCid(0xBEEF);
    const Packet p = sacnDataPacket(fields);
    ASSERT_EQ(p.size(), 638u);
    const SacnParseResult r = parse(p);
    ASSERT_EQ(r.kind, SacnPacketKind::Data);
    EXPECT_EQ(r.packet.priority, 150);
    EXPECT_EQ(r.packet.sequence, 201);
    EXPECT_FALSE(r.packet.stream_terminated);
    EXPECT_EQ(r.packet.cid[14], 0xBE);
    EXPECT_EQ(r.packet.cid[15], 0xEF);
    ASSERT_EQ(r.packet.slot_count, 512);
    EXPECT_EQ(std::vector<uint8_t>(r.packet.slots, r.packet.slots + 512), slots);
    EXPECT_EQ(r.packet.slots, p.data() + 126); // no copy
}

// Each row spoils one field of a sound packet; every layer is covered.
TEST(SacnPacketParser, EveryLayerIsChecked)
{
    const struct {
        const char* name;
        std::function<void(Packet&)> spoil;
        SacnPacketKind expected;
    } cases[] = {
        {"sound", [](Packet&) {}, SacnPacketKind::Data},
        // Root layer
        {"preamble size", [](Packet& p) { set16(p, 0, 0x0011); }, SacnPacketKind::Malformed},
        {"postamble size", [](Packet& p) { set16(p, 2, 0x0001); }, SacnPacketKind::Malformed},
        {"packet identifier", [](Packet& p) { p[4] = 'B'; }, SacnPacketKind::Malformed},
        {"identifier padding", [](Packet& p) { p[15] = 1; }, SacnPacketKind::Malformed},
        {"root flags", [](Packet& p) { p[16] = static_cast<uint8_t>((p[16] & 0x0F) | 0x60); }, SacnPacketKind::Malformed},
        {"root length past the datagram", [](Packet& p) { set16(p, 16, 0x7000 | (p.size() - 16 + 1)); }, SacnPacketKind::Malformed},
        {"root length short of its layers", [](Packet& p) { set16(p, 16, 0x7000 | (p.size() - 16 - 1)); }, SacnPacketKind::Malformed},
        {"root vector extended (sync)", [](Packet& p) { p[21] = 0x08; }, SacnPacketKind::Malformed},
        {"root vector high byte", [](Packet& p) { p[18] = 0x01; }, SacnPacketKind::Malformed},
        // Framing layer
        {"framing flags", [](Packet& p) { p[38] = static_cast<uint8_t>((p[38] & 0x0F) | 0xF0); }, SacnPacketKind::Malformed},
        {"framing length", [](Packet& p) { set16(p, 38, 0x7000 | (p.size() - 38 + 2)); }, SacnPacketKind::Malformed},
        {"framing vector", [](Packet& p) { p[43] = 0x01; }, SacnPacketKind::Malformed},
        {"priority 201", [](Packet& p) { p[108] = 201; }, SacnPacketKind::Malformed},
        {"priority 200", [](Packet& p) { p[108] = 200; }, SacnPacketKind::Data},
        {"priority 0", [](Packet& p) { p[108] = 0; }, SacnPacketKind::Data},
        {"other universe", [](Packet& p) { set16(p, 113, kUniverse + 256); }, SacnPacketKind::OtherUniverse},
        {"preview data", [](Packet& p) { p[112] = 0x80; }, SacnPacketKind::Ignored},
        {"start code 0xDD", [](Packet& p) { p[125] = 0xDD; }, SacnPacketKind::Ignored},
        {"synchronization address", [](Packet& p) { set16(p, 109, 9); }, SacnPacketKind::Data},
        // DMP layer
        {"dmp flags", [](Packet& p) { p[115] = static_cast<uint8_t>(p[115] & 0x0F); }, SacnPacketKind::Malformed},
        {"dmp length", [](Packet& p) { set16(p, 115, 0x7000 | (p.size() - 115 - 1)); }, SacnPacketKind::Malformed},
        {"dmp vector", [](Packet& p) { p[117] = 0x03; }, SacnPacketKind::Malformed},
        {"address and data type", [](Packet& p) { p[118] = 0xA2; }, SacnPacketKind::Malformed},
        {"first property address", [](Packet& p) { set16(p, 119, 1); }, SacnPacketKind::Malformed},
        {"address increment", [](Packet& p) { set16(p, 121, 2); }, SacnPacketKind::Malformed},
        {"property count one short", [](Packet& p) { set16(p, 123, 512); }, SacnPacketKind::Malformed},
        {"property count one over", [](Packet& p) { set16(p, 123, 514); }, SacnPacketKind::Malformed},
        {"property count 0", [](Packet& p) { set16(p, 123, 0); }, SacnPacketKind::Malformed},
        {"property count 0xFFFF", [](Packet& p) { set16(p, 123, 0xFFFF); }, SacnPacketKind::Malformed},
        {"cut by one byte", [](Packet& p) { p.pop_back(); }, SacnPacketKind::Malformed},
        {"trailing byte", [](Packet& p) { p.push_back(0); }, SacnPacketKind::Data},
        {"only the headers", [](Packet& p) { p.resize(125); }, SacnPacketKind::Malformed},
        {"empty", [](Packet& p) { p.clear(); }, SacnPacketKind::Malformed},
    };
    for (const auto& c : cases) {
        Packet p = goodPacket();
        c.spoil(p);
        EXPECT_EQ(parse(p).kind, c.expected) << c.name;
    }
}

// Lengths and property counts that agree with each other but claim more than
// the datagram holds, up to the 12-bit maximum, are never read.
TEST(SacnPacketParser, ConsistentLengthsPastTheDatagramAreRefused)
{
    for (unsigned count : {514u, 600u, 1000u, 3970u}) {
        Packet p = goodPacket();
        set16(p, 123, count);
        set16(p, 115, 0x7000 | (count + 10));
        set16(p, 38, 0x7000 | (count + 87));
        set16(p, 16, 0x7000 | (count + 109));
        EXPECT_EQ(parse(p).kind, SacnPacketKind::Malformed) << count;
        p.resize(125 + count, 0); // the bytes are there, the count is still too high
        EXPECT_EQ(parse(p).kind, SacnPacketKind::Malformed) << count;
    }
}

TEST(SacnPacketParser, ShortUniversesAndOptions)
{
    const struct {
        std::size_t slots;
        uint8_t options;
        bool terminated;
    } cases[] = {
        {0, 0, false}, {1, 0, false}, {24, 0x40, true}, {511, 0x20, false}, {512, 0x60, true},
    };
    for (const auto& c : cases) {
        Packet p = goodPacket(std::vector<uint8_t>(c.slots, 9));
        p[112] = c.options;
        const SacnParseResult r = parse(p);
        ASSERT_EQ(r.kind, SacnPacketKind::Data) << c.slots;
        EXPECT_EQ(r.packet.slot_count, static_cast<int>(c.slots));
        EXPECT_EQ(r.packet.stream_terminated, c.terminated) << c.slots;
    }
}

// Every cut of a sound packet, and a negative length from a failed receive.
TEST(SacnPacketParser, EveryTruncationIsRefused)
{
    const Packet p = goodPacket();
    const SacnPacketParser parser(kUniverse);
    for (long len = -1; len < static_cast<long>(p.size()); ++len) {
        std::vector<uint8_t> cut(p.begin(), p.begin() + std::max(0L, len));
        EXPECT_EQ(parser.parse(cut.data(), len).kind, SacnPacketKind::Malformed) << len;
    }
}

TEST(SacnPacketParser, UniverseBoundaries)
{
    for (int universe : {1, 255, 256, 63999}) {
        SacnPacketFields fields;
        fields.universe = universe;
        EXPECT_EQ(parse(sacnDataPacket(fields), universe).kind, SacnPacketKind::Data) << universe;
        EXPECT_EQ(parse(sacnDataPacket(fields), universe ^ 1).kind, SacnPacketKind::OtherUniverse) << universe;
    }
}

} // namespace
