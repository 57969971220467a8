// RDM over Art-Net on the wire: the table of devices the node sends, and
// which requests count as addressed to its port.
#include "network/artnet/art_rdm_packets.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Spectrafox;

namespace {

constexpr uint8_t kNet = 0;
constexpr uint8_t kAddress = 0x05; // sub-net 0, universe 5

TEST(ArtRdmPackets, TodDataListsTheNodeByteForByte)
{
    const std::vector<uint8_t> expected = {
        'A', 'r', 't', '-', 'N', 'e', 't', 0, // ID
        0x00, 0x81,                           // OpTodData, low byte first
        0x00, 0x0E,                           // protocol version 14
        0x01,                                 // RDM version: E1.20
        0x01,                                 // port 1
        0, 0, 0, 0, 0, 0,                     // spare
        0x00,                                 // bind index
        0x00,                                 // Net
        0x00,                                 // TodFull
        0x05,                                 // the port's sub-net and universe
        0x00, 0x01,                           // one UID in all
        0x00,                                 // block 0
        0x01,                                 // one UID in this packet
        0x7F, 0xF0, 0x12, 0x34, 0x56, 0x78,   // the node's UID
    };
    EXPECT_EQ(ArtRdmPackets::todData(kNet, kAddress, RdmUid(0x7FF0, 0x12345678)), expected);
}

std::vector<uint8_t> packet(uint16_t opcode, std::vector<uint8_t> tail, uint8_t net = kNet, uint8_t version = 14)
{
    std::vector<uint8_t> bytes = {'A', 'r', 't', '-', 'N', 'e', 't', 0, static_cast<uint8_t>(opcode),
                                  static_cast<uint8_t>(opcode >> 8), 0, version,
                                  0x01, 0, 0, 0, 0, 0, 0, 0, 0, // RdmVer or filler, spare
                                  net};
    for (uint8_t byte : tail)
        bytes.push_back(byte);
    return bytes;
}

std::vector<uint8_t> cut(std::vector<uint8_t> bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

TEST(ArtRdmPackets, TakesOnlyWholeRequestsForThePort)
{
    enum Kind { TodRequest, TodFlush, Rdm };
    struct Case {
        const char* name;
        Kind kind;
        std::vector<uint8_t> bytes;
        bool ours;
        std::size_t message_size = 0;
    };
    const Case cases[] = {
        {"request listing the port third", TodRequest, packet(0x8000, {0x00, 3, 0x01, 0x02, 0x05}), true},
        {"request for other ports", TodRequest, packet(0x8000, {0x00, 2, 0x01, 0x02}), false},
        {"request of another Net", TodRequest, packet(0x8000, {0x00, 1, 0x05}, 3), false},
        {"request counting more than it carries", TodRequest, packet(0x8000, {0x00, 3, 0x01, 0x05}), false},
        {"request of protocol 13", TodRequest, packet(0x8000, {0x00, 1, 0x05}, kNet, 13), false},
        {"request cut in the header", TodRequest, cut(packet(0x8000, {0x00, 1, 0x05}), 20), false},
        {"flush", TodFlush, packet(0x8200, {0x01, 0x05}), true},
        {"control without flush", TodFlush, packet(0x8200, {0x00, 0x05}), false},
        {"RDM message", Rdm, packet(0x8300, {0x00, 0x05, 0x01, 0x18, 0x7F}), true, 3},
        {"RDM for another port", Rdm, packet(0x8300, {0x00, 0x06, 0x01, 0x18, 0x7F}), false},
        {"RDM without a message", Rdm, packet(0x8300, {0x00, 0x05}), false},
        {"RDM with a command other than ArProcess", Rdm, packet(0x8300, {0x01, 0x05, 0x01}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint8_t* data = c.bytes.data();
        std::size_t size = 0;
        switch (c.kind) {
        case TodRequest:
            EXPECT_EQ(ArtRdmPackets::todRequestFor(data, c.bytes.size(), kNet, kAddress), c.ours);
            break;
        case TodFlush:
            EXPECT_EQ(ArtRdmPackets::todFlushFor(data, c.bytes.size(), kNet, kAddress), c.ours);
            break;
        case Rdm:
            const uint8_t* message = ArtRdmPackets::rdmFor(data, c.bytes.size(), kNet, kAddress, &size);
            EXPECT_EQ(message != nullptr, c.ours);
            if (message) {
                EXPECT_EQ(message, data + 24);
                EXPECT_EQ(size, c.message_size);
            }
            break;
        }
    }
}

} // namespace
