#include "support/sacn_packets.h"

namespace Spectrafox::Test {

namespace {

void put16(std::vector<uint8_t>& p, std::size_t at, unsigned value)
{
    p[at] = static_cast<uint8_t>(value >> 8);
    p[at + 1] = static_cast<uint8_t>(value);
}

void put32(std::vector<uint8_t>& p, std::size_t at, unsigned value)
{
    put16(p, at, value >> 16);
    put16(p, at + 2, value & 0xFFFF);
}

} // namespace

std::vector<uint8_t> sacnDataPacket(const SacnPacketFields& fields)
{
    const std::size_t count = fields.slots.size() + 1;
    std::vector<uint8_t> p(125 + count, 0);
    put16(p, 0, 0x0010);
    put16(p, 2, 0x0000);
    const char id[12] = {'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0};
    std::copy(id, id + 12, p.begin() + 4);
    put16(p, 16, 0x7000 | (p.size() - 16));
    put32(p, 18, 0x00000004);
    std::copy(fields.cid.begin(), fields.cid.end(), p.begin() + 22);
    put16(p, 38, 0x7000 | (p.size() - 38));
    put32(p, 40, 0x00000002);
    const char name[] = "Test desk";
    std::copy(name, name + sizeof name - 1, p.begin() + 44);
    p[108] = fields.priority;
    put16(p, 109, 0);
    p[111] = fields.sequence;
    p[112] = fields.options;
    put16(p, 113, static_cast<unsigned>(fields.universe));
    put16(p, 115, 0x7000 | (p.size() - 115));
    p[117] = 0x02;
    p[118] = 0xA1;
    put16(p, 119, 0x0000);
    put16(p, 121, 0x0001);
    put16(p, 123, static_cast<unsigned>(count));
    p[125] = fields.start_code;
    std::copy(fields.slots.begin(), fields.slots.end(), p.begin() + 126);
    return p;
}

std::array<uint8_t, 16> sacnCid(uint16_t number)
{
    std::array<uint8_t, 16> cid = SacnPacketFields{}.cid;
    cid[14] = static_cast<uint8_t>(number >> 8);
    cid[15] = static_cast<uint8_t>(number);
    return cid;
}

} // namespace Spectrafox::Test
