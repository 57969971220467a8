// CITP/MSEX on the wire: what desks send, read into fields, and what the node
// sends, byte for byte, against packets laid out by hand from the protocol
// document (little-endian numbers, cookies first letter first).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "network/citp/citp_message_builder.h"
#include "network/citp/citp_message_parser.h"

using namespace Spectrafox;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes cat(std::initializer_list<Bytes> fields)
{
    Bytes out;
    for (const Bytes& field : fields)
        out.insert(out.end(), field.begin(), field.end());
    return out;
}

// Characters without an end.
Bytes text(const std::string& characters)
{
    return Bytes(characters.begin(), characters.end());
}

// The CITP header of an MSEX message, then the MSEX header.
Bytes msex(uint8_t size, uint8_t index, uint8_t major, uint8_t minor, const char* type)
{
    return cat({{'C', 'I', 'T', 'P'}, // cookie
                {1, 0},               // CITP 1.0
                {index, 0},           // request index / in response to
                {size, 0, 0, 0},      // message size, headers included
                {1, 0},               // part count
                {0, 0},               // part
                {'M', 'S', 'E', 'X'}, // layer
                {major, minor},       // MSEX version
                Bytes(type, type + 4)});
}

MsexRequest parsed(const Bytes& bytes)
{
    MsexRequest request;
    EXPECT_EQ(CitpMessageParser::parse(bytes.data(), bytes.size(), &request), CitpMessageParser::Outcome::Request);
    return request;
}

struct Golden {
    const char* name;
    Bytes bytes;
    // A reply: what the builder makes. A request: null, and `check` looks at the fields.
    std::function<std::string()> build;
    std::function<void(const MsexRequest&)> check;
};

const Citp::LibraryId kTextures{1, 0, 0, 0};

TEST(CitpMessages, GoldenPackets)
{
    const Golden table[] = {
        {"PINF PLoc", cat({{'C', 'I', 'T', 'P'}, {1, 0}, {0, 0}, {48, 0, 0, 0}, {1, 0}, {0, 0}, {'P', 'I', 'N', 'F'},
                           {'P', 'L', 'o', 'c'},                                  // content type
                           {0xCA, 0x12},                                          // TCP port 4810
                           {'M', 'e', 'd', 'i', 'a', 'S', 'e', 'r', 'v', 'e', 'r', 0}, // type
                           {'N', 'o', 'd', 'e', 0},                               // name
                           {'I', 'd', 'l', 'e', 0}}),                             // state
         [] { return CitpMessageBuilder::peerLocation(4810, "Node", "Idle"); }, nullptr},
        {"SInf 1.0", cat({msex(51, 0, 1, 0, "SInf"),
                          {'F', 0, 'x', 0, 0, 0},                                    // product name, UCS-2
                          {0, 3},                                                    // product version
                          {1},                                                       // layer count
                          {'A', 'r', 't', 'N', 'e', 't', '/', '0', '/', '1', '8', '/', '1', '0', '1', 0}}),
         [] {
             return CitpMessageBuilder::serverInfo(Citp::kMsex10, {"", "Fx", 0, 3, 2, {}, {"ArtNet/0/18/101"}});
         }, nullptr},
        {"SInf 1.2", cat({msex(104, 0, 1, 2, "SInf"),
                          text("12345678-1234-1234-1234-123456789abc"), // UUID, no end
                          {'F', 0, 'x', 0, 0, 0},                           // product name
                          {0, 3, 2},                                        // major, minor, bug fix
                          {3, 0, 1, 1, 1, 2, 1},                            // versions, minor byte first
                          {1, 0},                                           // library types: media
                          {2, 'P', 'N', 'G', ' ', 'R', 'G', 'B', '8'},      // thumbnail formats
                          {0},                                              // stream formats
                          {1, 'B', 'S', 'R', 'E', '1', '.', '3', '1', '/', '7', '/', '1', 0}}), // layer sources
         [] {
             return CitpMessageBuilder::serverInfo(
                 Citp::kMsex12, {"12345678-1234-1234-1234-123456789abc", "Fx", 0, 3, 2,
                                 {Citp::kFormatPng, Citp::kFormatRgb8}, {"BSRE1.31/7/1"}});
         }, nullptr},
        {"ELIn 1.1", cat({msex(40, 5, 1, 1, "ELIn"),
                          {1},          // library type: media
                          {1},          // library count, one byte before 1.2
                          {1, 0, 0, 0}, // library id: level 1, number 0
                          {0, 0},       // DMX range
                          {'T', 0, 0, 0}, // name
                          {0},          // sub-libraries
                          {3}}),        // elements
         [] { return CitpMessageBuilder::libraries(Citp::kMsex11, 5, {{kTextures, 0, 0, 0, "T", 0, 3}}); }, nullptr},
        {"MEIn 1.2", cat({msex(68, 0, 1, 2, "MEIn"),
                          {1, 0, 0, 0},             // library id
                          {1, 0},                   // element count, two bytes from 1.2
                          {7},                      // element number
                          {0x44, 0x33, 0x22, 0x11}, // serial
                          {7, 7},                   // DMX range
                          {'7', 0, '.', 0, 'p', 0, 'n', 0, 'g', 0, 0, 0}, // name
                          {0x00, 0x10, 0x5E, 0x5F, 0, 0, 0, 0},           // version time stamp
                          {0x80, 0x02, 0xE0, 0x01},                       // 640 x 480
                          {250, 0, 0, 0},                                 // length in frames
                          {25}}),                                         // frames a second
         [] {
             return CitpMessageBuilder::mediaElements(Citp::kMsex12, 0, kTextures,
                                                      {{7, 0x11223344, 7, 7, "7.png", 0x5F5E1000, 640, 480, 250, 25}});
         }, nullptr},
        {"EThn 1.0", cat({msex(42, 2, 1, 0, "EThn"),
                          {1},                    // library type
                          {0},                    // library number
                          {7},                    // element
                          {'R', 'G', 'B', '8'},   // format
                          {1, 0, 1, 0},           // 1 x 1
                          {3, 0},                 // buffer size
                          {0x30, 0x20, 0x10}}),   // the buffer as given
         [] { return CitpMessageBuilder::elementThumbnail(Citp::kMsex10, 2, kTextures, 7, {Citp::kFormatRgb8, 1, 1, "\x30\x20\x10"}); },
         nullptr},
        {"LSta 1.1", cat({msex(48, 0, 1, 1, "LSta"),
                          {1},             // layer count
                          {0, 0},          // layer, physical output
                          {0},             // library number: 1.1 shares 1.0's layout
                          {7},             // element
                          {'A', 0, 0, 0},  // name
                          {100, 0, 0, 0},  // position
                          {250, 0, 0, 0},  // length
                          {25},            // frames a second
                          {5, 0, 0, 0}}),  // playing, looping
         [] { return CitpMessageBuilder::layerStatus(Citp::kMsex11, {{0, 0, kTextures, 7, "A", 100, 250, 25, 5}}); },
         nullptr},
        {"LSta 1.2", cat({msex(52, 0, 1, 2, "LSta"), {1}, {0, 0},
                          {1},          // library type
                          {1, 0, 0, 0}, // library id
                          {7}, {'A', 0, 0, 0}, {100, 0, 0, 0}, {250, 0, 0, 0}, {25}, {0x20, 0, 0, 0}}), // paused
         [] { return CitpMessageBuilder::layerStatus(Citp::kMsex12, {{0, 0, kTextures, 7, "A", 100, 250, 25, 0x20}}); },
         nullptr},
        {"ELUp 1.2", cat({msex(96, 0, 1, 2, "ELUp"), {1}, {1, 0, 0, 0},
                          {3},                     // updated, added or removed
                          {0, 2}, Bytes(30, 0),    // affected elements: 9
                          Bytes(32, 0)}),          // affected sub-libraries
         [] { return CitpMessageBuilder::libraryUpdate(Citp::kMsex12, kTextures, 3, {9}); }, nullptr},
        {"Nack 1.2", cat({msex(30, 9, 1, 2, "Nack"), {'G', 'V', 'S', 'r'}}),
         [] { return CitpMessageBuilder::nack(Citp::kMsex12, 9, Citp::cookie("GVSr")); }, nullptr},
        {"CInf, versions as documented", cat({msex(33, 3, 1, 2, "CInf"), {3, 0, 1, 1, 1, 2, 1}}), nullptr,
         [](const MsexRequest& r) {
             EXPECT_EQ(r.request_index, 3);
             EXPECT_EQ(r.versions, (std::vector<uint16_t>{0x100, 0x101, 0x102}));
         }},
        {"CInf, versions major first", cat({msex(31, 0, 1, 2, "CInf"), {2, 1, 0, 1, 2}}), nullptr,
         [](const MsexRequest& r) { EXPECT_EQ(r.versions, (std::vector<uint16_t>{0x100, 0x102})); }},
        {"GETh 1.0", cat({msex(40, 4, 1, 0, "GETh"),
                          {'P', 'N', 'G', ' '}, {128, 0}, {96, 0}, // format, width, height
                          {1},                                     // keep the aspect
                          {1}, {0},                                // media library number 0
                          {2, 3, 7}}),                             // two elements
         nullptr,
         [](const MsexRequest& r) {
             EXPECT_EQ(r.thumbnail_format, Citp::kFormatPng);
             EXPECT_EQ(r.thumbnail_width, 128);
             EXPECT_EQ(r.thumbnail_height, 96);
             EXPECT_EQ(r.thumbnail_flags, 1);
             EXPECT_EQ(r.library, kTextures);
             EXPECT_EQ(r.elements, (Bytes{3, 7}));
             EXPECT_FALSE(r.every);
         }},
        {"GETh 1.2, every element", cat({msex(42, 0, 1, 2, "GETh"), {'R', 'G', 'B', '8'}, {0, 2}, {0, 2}, {0}, {1},
                                         {1, 0, 0, 0}, {0, 0}}),
         nullptr,
         [](const MsexRequest& r) {
             EXPECT_EQ(r.thumbnail_width, 512);
             EXPECT_EQ(r.library, kTextures);
             EXPECT_TRUE(r.every);
         }},
        {"GELI 1.1, every library under the root", cat({msex(32, 0, 1, 1, "GELI"), {1}, {0, 0, 0, 0}, {0}}), nullptr,
         [](const MsexRequest& r) {
             EXPECT_EQ(r.parent.level, 0);
             EXPECT_TRUE(r.every);
         }},
        {"GEIn 1.2", cat({msex(35, 0, 1, 2, "GEIn"), {1}, {1, 0, 0, 0}, {2, 0}, {0, 255}}), nullptr,
         [](const MsexRequest& r) { EXPECT_EQ(r.elements, (Bytes{0, 255})); }},
    };
    for (const Golden& row : table) {
        SCOPED_TRACE(row.name);
        size_t size = 0;
        ASSERT_EQ(CitpMessageParser::frame(row.bytes.data(), row.bytes.size(), &size),
                  CitpMessageParser::Framing::Complete);
        ASSERT_EQ(size, row.bytes.size());
        if (row.build)
            EXPECT_EQ(row.build(), std::string(row.bytes.begin(), row.bytes.end()));
        else
            row.check(parsed(row.bytes));
    }
}

// Whatever a desk sends, the stream is cut or the message refused: nothing is
// read past what arrived, and no size is believed beyond the largest request.
TEST(CitpMessages, BadInputIsCutOrRefused)
{
    using Framing = CitpMessageParser::Framing;
    using Outcome = CitpMessageParser::Outcome;
    struct Case {
        const char* name;
        Bytes bytes;
        Framing framing;
        Outcome outcome; // when Complete
    };
    Bytes split = msex(32, 0, 1, 1, "GELI");
    split[12] = 2; // two parts
    const Case table[] = {
        {"wrong cookie", cat({{'C', 'I', 'T', 'Q'}, Bytes(16, 0)}), Framing::Broken, Outcome::Malformed},
        {"size of 4 GB", cat({{'C', 'I', 'T', 'P', 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}}), Framing::Broken,
         Outcome::Malformed},
        {"size beyond any request", cat({{'C', 'I', 'T', 'P', 1, 0, 0, 0, 0x00, 0x00, 0x02, 0x00}}), Framing::Broken,
         Outcome::Malformed},
        {"size below the header", cat({{'C', 'I', 'T', 'P', 1, 0, 0, 0, 19, 0, 0, 0}}), Framing::Broken,
         Outcome::Malformed},
        {"header cut short", {'C', 'I', 'T', 'P', 1, 0, 0}, Framing::Incomplete, Outcome::Malformed},
        {"message cut midway", msex(40, 0, 1, 0, "GETh"),
         Framing::Incomplete, Outcome::Malformed},
        {"more elements named than sent", cat({msex(37, 0, 1, 0, "GETh"), {'P', 'N', 'G', ' ', 64, 0, 64, 0, 0, 1, 0, 5, 1, 2}}),
         Framing::Complete, Outcome::Malformed},
        {"versions counted, none sent", cat({msex(27, 0, 1, 2, "CInf"), {200}}), Framing::Complete, Outcome::Malformed},
        {"MSEX 2.0", cat({msex(27, 0, 2, 0, "CInf"), {0}}), Framing::Complete, Outcome::Malformed},
        {"split in parts", cat({split, {1, 0, 0, 0, 0, 0}}), Framing::Complete, Outcome::Malformed},
        {"a video stream asked for", msex(26, 0, 1, 2, "GVSr"), Framing::Complete, Outcome::Unknown},
        {"another layer", cat({{'C', 'I', 'T', 'P', 1, 0, 0, 0, 24, 0, 0, 0, 1, 0, 0, 0, 'P', 'I', 'N', 'F', 'P', 'N', 'a', 'm'}}),
         Framing::Complete, Outcome::NotMsex},
    };
    for (const Case& row : table) {
        SCOPED_TRACE(row.name);
        size_t size = 0;
        ASSERT_EQ(CitpMessageParser::frame(row.bytes.data(), row.bytes.size(), &size), row.framing);
        MsexRequest request;
        if (row.framing == Framing::Complete) {
            EXPECT_EQ(CitpMessageParser::parse(row.bytes.data(), size, &request), row.outcome);
        }
    }
}

} // namespace
