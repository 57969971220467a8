// The real program as a media server on a desk's network, over a veth link:
// its announcements, and a desk (a small client written from the protocol
// document) browsing the slots, their thumbnails and the layers, then
// misbehaving.
#include <gtest/gtest.h>

#include <stb_image.h>
#include <sys/wait.h>
#include <zip.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/artnet_peer.h"
#include "support/child_process.h"
#include "support/citp_desk.h"
#include "support/eventually.h"
#include "support/http_client.h"
#include "support/net_namespace.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

using namespace Spectrafox::Test;
using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

using Bytes = std::vector<uint8_t>;
const char* const kNode = "10.84.0.2";

struct Node {
    NetNamespace desk, node;
    TempDir dir;
    std::unique_ptr<UdpPeer> console; // Art-Net
    std::unique_ptr<UdpPeer> citp;    // CITP announcements
    std::unique_ptr<ChildProcess> program;

    // False (the test skipped or failed) when the program does not come up.
    bool start(const std::string& config)
    {
        std::string failed;
        if (!connectWithVeth(node, "eth0", std::string(kNode) + "/24", desk, "desk0", "10.84.0.1/24", &failed)) {
            ADD_FAILURE() << failed;
            return false;
        }
        {
            ScopedNetNamespace at(desk);
            console = std::make_unique<UdpPeer>(6454);
            citp = std::make_unique<UdpPeer>(4809);
            EXPECT_TRUE(citp->joinGroup("239.224.0.180", "10.84.0.1"));
            EXPECT_TRUE(citp->joinGroup("224.0.0.180", "10.84.0.1"));
        }
        dir.write("config.txt", config);
        ScopedNetNamespace at(node);
        program = std::make_unique<ChildProcess>(ChildProcess::server(dir.path(), {"--headless=160x90"}));
        Datagram reply;
        EXPECT_TRUE(console->receiveOpCode(0x2100, &reply, 30s)) << readFile(dir.file("stderr.txt"));
        return !::testing::Test::HasFailure();
    }
};

// The TCP port of a PINF PLoc from the node on `group`; 0 when none came.
int announcedPort(UdpPeer& citp, const std::string& group)
{
    Datagram datagram;
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (std::chrono::steady_clock::now() < deadline && citp.receive(&datagram, 3s)) {
        if (datagram.destination != group || datagram.source != kNode)
            continue;
        CitpFields ploc(datagram.bytes, 16);
        EXPECT_EQ(ploc.cookie(), "PINF");
        EXPECT_EQ(ploc.cookie(), "PLoc");
        const unsigned port = ploc.u16();
        EXPECT_EQ(ploc.ucs1(), "MediaServer");
        EXPECT_FALSE(ploc.ucs1().empty()); // name
        return static_cast<int>(port);
    }
    return 0;
}

Bytes elementThumbnailAsk(const std::string& format, uint16_t side, uint8_t flags, uint8_t element)
{
    Bytes body(format.begin(), format.end());
    body.insert(body.end(), {uint8_t(side), uint8_t(side >> 8), uint8_t(side), uint8_t(side >> 8), flags, 1});
    body.insert(body.end(), {1, 0, 0, 0, 1, 0, element}); // library 1.0.0.0, one element
    return body;
}

// An entry of a zip archive held in memory; empty when it is not there.
std::string zipEntry(const std::string& archive, const char* name)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
    zip_t* zip = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    if (!zip && source)
        zip_source_free(source);
    zip_stat_t info;
    zip_file_t* file = zip && zip_stat(zip, name, 0, &info) == 0 ? zip_fopen(zip, name, 0) : nullptr;
    std::string bytes(file ? info.size : 0, '\0');
    if (file && zip_fread(file, &bytes[0], info.size) != static_cast<zip_int64_t>(info.size))
        bytes.clear();
    if (file)
        zip_fclose(file);
    if (zip)
        zip_discard(zip);
    zip_error_fini(&error);
    return bytes;
}

TEST(CitpPeer, DeskBrowsesTheSlotsAndMisbehavesWithoutHarm)
{
    Node n;
    if (!n.desk.ok() || !n.node.ok())
        GTEST_SKIP() << n.desk.error() << n.node.error();
    n.dir.write("textures/.keep", "");
    std::vector<uint32_t> halves(64 * 32);
    for (size_t k = 0; k < halves.size(); ++k)
        halves[k] = k % 64 < 32 ? 0xFF0000FF : 0x0000FFFF; // red left, blue right
    writePng(n.dir.file("textures/003.png"), 64, 32, halves);
    ASSERT_TRUE(n.start("CITP=1\nSUBNET=1\nUNIVERSE=2\nDMX_START=101\nANZAHL=2\nWATCH_TEXTURES=1\nHTTP_PORT=8091\n"));

    // Announced on both groups, from the node's address.
    const int port = announcedPort(*n.citp, "239.224.0.180");
    ASSERT_GT(port, 0);
    EXPECT_EQ(announcedPort(*n.citp, "224.0.0.180"), port);

    ScopedNetNamespace at(n.desk);
    CitpDesk desk;
    ASSERT_TRUE(desk.connect(kNode, static_cast<uint16_t>(port)));
    ASSERT_TRUE(desk.ask(1, 2, "CInf", {3, 0, 1, 1, 1, 2, 1}));
    Bytes reply = desk.await("SInf", 5s);
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply[20], 1);
    EXPECT_EQ(reply[21], 2); // answered in 1.2
    // Its thumbnail formats, no streams, a layer per canvas at its DMX address.
    EXPECT_NE(std::string(reply.begin(), reply.end()).find("\3PNG JPEGRGB8\0\2ArtNet/0/18/101\0ArtNet/0/18/121\0"s),
              std::string::npos);

    ASSERT_TRUE(desk.ask(1, 2, "GEIn", {1, 1, 0, 0, 0, 0, 0}));
    reply = desk.await("MEIn", 5s);
    CitpFields mein = CitpFields::msexBody(reply);
    mein.bytes(4);
    ASSERT_EQ(mein.u16(), 1u);
    EXPECT_EQ(mein.u8(), 3u);
    mein.u32(); // serial
    EXPECT_EQ(mein.u16(), 0x0303u);
    EXPECT_EQ(mein.ucs2(), "003.png");
    mein.bytes(8);
    EXPECT_EQ(mein.u16(), 64u);
    EXPECT_EQ(mein.u16(), 32u);

    // The thumbnail is the slot's picture: red on the left, blue on the right,
    // its aspect kept; MSEX 1.0 sends it blue first.
    ASSERT_TRUE(desk.ask(1, 2, "GETh", elementThumbnailAsk("RGB8", 32, 1, 3)));
    reply = desk.await("EThn", 10s);
    CitpFields ethn = CitpFields::msexBody(reply);
    ethn.bytes(6);
    EXPECT_EQ(ethn.cookie(), "RGB8");
    ASSERT_EQ(ethn.u16(), 32u);
    ASSERT_EQ(ethn.u16(), 16u);
    const Bytes rgb = ethn.bytes(ethn.u16());
    ASSERT_EQ(rgb.size(), 32u * 16 * 3);
    const auto row_8 = [&](long x) { return Bytes(rgb.begin() + (8 * 32 + x) * 3, rgb.begin() + (8 * 32 + x + 1) * 3); };
    EXPECT_EQ(row_8(2), (Bytes{255, 0, 0}));
    EXPECT_EQ(row_8(29), (Bytes{0, 0, 255}));
    // RGB8, 8 x 8, no flags, media library number 0, one element: 3.
    ASSERT_TRUE(desk.ask(1, 0, "GETh", {'R', 'G', 'B', '8', 8, 0, 8, 0, 0, 1, 0, 1, 3}));
    reply = desk.await("EThn", 10s);
    ASSERT_EQ(reply.size(), 26u + 3 + 4 + 6 + 8 * 8 * 3);
    EXPECT_EQ(Bytes(reply.begin() + 39, reply.begin() + 42), (Bytes{0, 0, 255}));

    ASSERT_TRUE(desk.ask(1, 2, "GETh", elementThumbnailAsk("JPEG", 16, 0, 3)));
    CitpFields jpeg = CitpFields::msexBody(desk.await("EThn", 10s));
    jpeg.bytes(14);
    const Bytes jfif = jpeg.bytes(jpeg.u16());
    ASSERT_GT(jfif.size(), 4u);
    EXPECT_EQ(Bytes(jfif.begin(), jfif.begin() + 2), (Bytes{0xFF, 0xD8}));
    EXPECT_EQ(Bytes(jfif.end() - 2, jfif.end()), (Bytes{0xFF, 0xD9}));

    // Sizes beyond reason are cut to what the 16-bit buffer size holds, or refused.
    ASSERT_TRUE(desk.ask(1, 2, "GETh", elementThumbnailAsk("RGB8", 65535, 1, 3)));
    reply = desk.await("EThn", 10s);
    CitpFields huge = CitpFields::msexBody(reply);
    huge.bytes(10);
    const unsigned huge_width = huge.u16();
    const unsigned huge_height = huge.u16();
    EXPECT_LE(huge_width, 512u);
    EXPECT_EQ(huge.u16(), huge_width * huge_height * 3);
    for (const Bytes& refused : {elementThumbnailAsk("RGB8", 0, 0, 3), elementThumbnailAsk("TIFF", 64, 0, 3)}) {
        ASSERT_TRUE(desk.ask(1, 2, "GETh", refused));
        EXPECT_EQ(CitpFields::msexBody(desk.await("Nack", 5s)).cookie(), "GETh");
    }
    ASSERT_TRUE(desk.ask(1, 2, "GVSr", {}));
    EXPECT_EQ(CitpFields::msexBody(desk.await("Nack", 5s)).cookie(), "GVSr");

    // The first layer shows slot 3 once the desk calls it.
    Bytes channels(512, 0);
    channels[100] = 3;
    channels[101] = 255;
    ASSERT_TRUE(n.console->sendTo(kNode, 6454, artDmx(1, 2, channels)));
    ASSERT_TRUE(eventually([&] {
        CitpFields lsta = CitpFields::msexBody(desk.await("LSta", 2s));
        if (lsta.u8() != 2)
            return false;
        lsta.bytes(7);
        return lsta.u8() == 3 && lsta.ucs2() == "003.png";
    }, 10s));

    // A file added while running: the desk is told which element changed.
    writeSolidPng(n.dir.file("010.png"), 4, 4, 0x00FF00FF);
    ASSERT_EQ(std::rename(n.dir.file("010.png").c_str(), n.dir.file("textures/010.png").c_str()), 0);
    reply = desk.await("ELUp", 10s);
    ASSERT_EQ(reply.size(), 26u + 6 + 64);
    EXPECT_EQ(reply[32 + 1], 1u << 2); // element 10

    // The fixture profile on the status page carries both slots on its content wheel.
    std::string gdtf;
    {
        ScopedNetNamespace on_node(n.node);
        gdtf = httpGet(8091, "/fixture.gdtf").body;
    }
    const std::string description = zipEntry(gdtf, "description.xml");
    EXPECT_NE(description.find("<Slot Name=\"003.png\" MediaFileName=\"003\" />"), std::string::npos) << description;
    EXPECT_NE(description.find("<ChannelSet Name=\"010.png\" DMXFrom=\"10/1\" WheelSlotIndex=\"2\" />"),
              std::string::npos);
    const std::string wheel_png = zipEntry(gdtf, "wheels/003.png");
    int png_width = 0, png_height = 0, components = 0;
    stbi_uc* picture = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(wheel_png.data()),
                                             static_cast<int>(wheel_png.size()), &png_width, &png_height, &components, 3);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(png_width, 256);
    EXPECT_EQ(png_height, 256);
    EXPECT_EQ(Bytes(picture, picture + 3), (Bytes{255, 0, 0}));
    EXPECT_EQ(Bytes(picture + 255 * 3, picture + 256 * 3), (Bytes{0, 0, 255}));
    stbi_image_free(picture);

    // 1000 connections come and go, a ninth desk is shown out, a stream that
    // is no CITP is cut; the first desk is served throughout.
    for (int k = 0; k < 1000; ++k) {
        CitpDesk passing;
        ASSERT_TRUE(passing.connect(kNode, static_cast<uint16_t>(port)));
    }
    std::vector<std::unique_ptr<CitpDesk>> others;
    // Each place is free once the node has seen a passing desk go.
    for (int k = 0; k < 7; ++k)
        ASSERT_TRUE(eventually([&] {
            auto other = std::make_unique<CitpDesk>();
            if (!other->connect(kNode, static_cast<uint16_t>(port)) || other->closedBy(200ms))
                return false;
            others.push_back(std::move(other));
            return true;
        }, 10s));
    CitpDesk ninth;
    ASSERT_TRUE(ninth.connect(kNode, static_cast<uint16_t>(port)));
    EXPECT_TRUE(ninth.closedBy(3s));
    ASSERT_TRUE(others.front()->sendBytes(Bytes{'H', 'T', 'T', 'P', '/', '1', '.', '1', ' ', '2', '0', '0'}));
    EXPECT_TRUE(others.front()->closedBy(3s));
    ASSERT_TRUE(desk.ask(1, 1, "GELI", {1, 0, 0, 0, 0, 0}));
    reply = desk.await("ELIn", 5s);
    ASSERT_EQ(reply.size(), 26u + 2 + 4 + 2 + 18 + 2);
    EXPECT_EQ(reply.back(), 2u); // two elements now

    n.program->signal(SIGTERM);
    int exit_status = -1;
    ASSERT_TRUE(n.program->waitExit(5000, &exit_status));
    EXPECT_TRUE(WIFEXITED(exit_status) && WEXITSTATUS(exit_status) == 0) << readFile(n.dir.file("stderr.txt"));
}

TEST(CitpPeer, SilentWithoutTheKey)
{
    Node n;
    if (!n.desk.ok() || !n.node.ok())
        GTEST_SKIP() << n.desk.error() << n.node.error();
    ASSERT_TRUE(n.start("CITP_PORT=4810\n"));
    Datagram datagram;
    EXPECT_FALSE(n.citp->receive(&datagram, 2500ms));
    ScopedNetNamespace at(n.desk);
    CitpDesk desk;
    EXPECT_FALSE(desk.connect(kNode, 4810));
}

} // namespace
