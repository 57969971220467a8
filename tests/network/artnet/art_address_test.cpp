// ArtAddress as a desk sends it: the fields it carries, and what each switch
// value does to the Port-Address in force.
#include "network/artnet/art_address.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace Spectrafox;

namespace {

// A whole ArtAddress: Net 0x83, sub-net 0x82, first SwOut 0x7F (no change),
// short name "Stage L", AcLedLocate.
std::vector<uint8_t> golden()
{
    std::vector<uint8_t> bytes(107, 0);
    const uint8_t head[] = {'A', 'r', 't', '-', 'N', 'e', 't', 0, // ID
                            0x00, 0x60,                           // OpAddress
                            0x00, 0x0E,                           // protocol version 14
                            0x83,                                 // NetSwitch: program Net 3
                            0x00};                                // bind index
    std::memcpy(bytes.data(), head, sizeof head);
    std::memcpy(&bytes[14], "Stage L", 7); // ShortName, 18 bytes from 14
    // LongName, 64 bytes from 32: empty (no change)
    // SwIn, 4 bytes from 96: ignored (no input port)
    bytes[100] = 0x7F; // SwOut of port 1: no change
    bytes[104] = 0x82; // SubSwitch: program sub-net 2
    bytes[105] = 0x00; // AcnPriority
    bytes[106] = 0x04; // AcLedLocate
    return bytes;
}

TEST(ArtAddress, ReadsWholePacketsAndRefusesTheRest)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool parsed;
        const char* short_name;
    };
    std::vector<uint8_t> control_in_name = golden();
    control_in_name[16] = 0x07;
    std::vector<uint8_t> unterminated = golden();
    std::memset(&unterminated[14], 'A', 18);
    std::vector<uint8_t> short_one = golden();
    short_one.pop_back();
    std::vector<uint8_t> old_protocol = golden();
    old_protocol[11] = 13;
    std::vector<uint8_t> other_opcode = golden();
    other_opcode[9] = 0x61;
    const Case cases[] = {
        {"golden", golden(), true, "Stage L"},
        {"one byte short", short_one, false, ""},
        {"control character: name unchanged", control_in_name, true, ""},
        {"name filling its field: the last byte is the terminator", unterminated, true, "AAAAAAAAAAAAAAAAA"},
        {"protocol 13", old_protocol, false, ""},
        {"another opcode", other_opcode, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ArtAddress::Fields fields;
        ASSERT_EQ(ArtAddress::parse(c.bytes.data(), c.bytes.size(), &fields), c.parsed);
        if (!c.parsed)
            continue;
        EXPECT_EQ(fields.short_name, c.short_name);
        EXPECT_EQ(fields.long_name, "");
        EXPECT_EQ(fields.net_switch, 0x83);
        EXPECT_EQ(fields.sub_switch, 0x82);
        EXPECT_EQ(fields.sw_out, 0x7F);
        EXPECT_EQ(fields.command, ArtAddress::kLedLocate);
    }
}

// In force 5, config.txt's 9: bit 7 programs, 0x00 resets, the rest keep.
TEST(ArtAddress, SwitchValuesProgramResetOrKeep)
{
    const int cases[][3] = {{0x83, 0x0F, 3}, {0xFF, 0x0F, 15}, {0x80, 0x0F, 0}, {0x00, 0x0F, 9},
                            {0x7F, 0x0F, 5}, {0x03, 0x0F, 5},  {0xFF, 0x7F, 127}};
    for (const auto& c : cases)
        EXPECT_EQ(ArtAddress::programmed(static_cast<uint8_t>(c[0]), 5, 9, c[1]), c[2]) << c[0];
}

} // namespace
