// The real program on the Art-Net side: started in a node namespace of the
// test's own, with a desk on the far end of a private veth link.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "support/artnet_peer.h"
#include "support/child_process.h"
#include "support/net_namespace.h"
#include "support/picture_files.h"
#include "support/sacn_packets.h"
#include "support/temp_dir.h"

using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

constexpr int kStartMs = 30000; // llvmpipe start-up under sanitizers is slow
constexpr int kStopMs = 10000;

ChildProcess::Setup silentHeadless(const TempDir& dir, std::vector<std::string> extra = {})
{
    ChildProcess::Setup setup;
    setup.argv = {SPECTRAFOX_BINARY, "--silent", "--headless=64x36"};
    setup.argv.insert(setup.argv.end(), extra.begin(), extra.end());
    setup.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}};
    setup.working_directory = dir.path();
    setup.stdout_path = dir.file("stdout.txt");
    setup.stderr_path = dir.file("stderr.txt");
    return setup;
}

TEST(ProgramOnArtnet, PortTakenEndsWithStatusOneAndTheBindMessage)
{
    NetNamespace node;
    if (!node.ok())
        GTEST_SKIP() << node.error();
    ScopedNetNamespace inside(node);
    UdpPeer other_program(6454);
    ASSERT_TRUE(other_program.ok());
    TempDir dir;
    ChildProcess program(silentHeadless(dir));
    int status = 0;
    ASSERT_TRUE(program.waitExit(kStartMs, &status)) << readFile(dir.file("stderr.txt"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
    EXPECT_EQ(readFile(dir.file("stdout.txt")),
              "ArtnetReceiver: bind(): Kann Portnummern 6454 nicht binden (Address already in use)\n");
}

TEST(ProgramOnArtnet, AnnouncesAnswersIsDrivenAndStopsCleanly)
{
    NetNamespace desk, node;
    if (!desk.ok() || !node.ok())
        GTEST_SKIP() << desk.error() << node.error();
    std::string failed;
    ASSERT_TRUE(connectWithVeth(node, "eth0", "10.79.0.2/24", desk, "desk0", "10.79.0.1/24", &failed))
        << failed;
    std::unique_ptr<UdpPeer> console;
    {
        ScopedNetNamespace at(desk);
        console = std::make_unique<UdpPeer>(6454);
    }
    TempDir dir;
    dir.write("config.txt", "SUBNET=0\nUNIVERSE=1\nDMX_START=1\nANZAHL=2\n");
    const std::string snapshot = dir.file("shot.png");
    std::unique_ptr<ChildProcess> program;
    {
        ScopedNetNamespace at(node);
        program = std::make_unique<ChildProcess>(
            silentHeadless(dir, {"--snapshot-frame=40", "--snapshot=" + snapshot}));
    }

    Datagram reply;
    ASSERT_TRUE(console->receiveOpCode(0x2100, &reply, std::chrono::milliseconds(kStartMs)))
        << readFile(dir.file("stderr.txt"));
    EXPECT_EQ(reply.source, "10.79.0.2");
    EXPECT_EQ(reply.destination, "10.79.0.255");
    EXPECT_EQ(reply.bytes[190], 1);

    // All channels 0 hide both canvases (alpha 0, width 0): a black frame.
    const std::vector<uint8_t> dark = artDmx(0, 1, std::vector<uint8_t>(512, 0));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(console->sendTo("10.79.0.2", 6454, dark));
    ASSERT_TRUE(console->sendTo("10.79.0.255", 6454, artPoll()));
    ASSERT_TRUE(console->receiveOpCode(0x2100, &reply, 5000ms));
    EXPECT_EQ(reply.bytes[10], 10);
    EXPECT_EQ(reply.bytes[13], 2);

    ASSERT_TRUE(waitForFile(snapshot, kStartMs)) << readFile(dir.file("stderr.txt"));
    const RgbaImage shot = readRgbaPng(snapshot);
    ASSERT_TRUE(shot.ok());
    EXPECT_EQ(shot.litPixels(), 0) << "pixels still lit after an all-zero ArtDmx";

    program->signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(program->waitExit(kStopMs, &status)) << "no exit after SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "status " << status << "\n" << readFile(dir.file("stderr.txt"));
}

// With NET= and SACN_UNIVERSE= in config.txt the reply reports the Net, the
// node joins the sACN group on eth0 without a word, and sACN data drive it.
TEST(ProgramOnArtnet, NetAndSacnFromTheConfigFile)
{
    NetNamespace desk, node;
    if (!desk.ok() || !node.ok())
        GTEST_SKIP() << desk.error() << node.error();
    std::string failed;
    ASSERT_TRUE(connectWithVeth(node, "eth0", "10.82.0.2/24", desk, "desk0", "10.82.0.1/24", &failed))
        << failed;
    ASSERT_TRUE(desk.run("ip route add 239.255.0.0/16 dev desk0"));
    std::unique_ptr<UdpPeer> console;
    {
        ScopedNetNamespace at(desk);
        console = std::make_unique<UdpPeer>(6454);
    }
    TempDir dir;
    dir.write("config.txt", "NET=3\nSACN_UNIVERSE=5\nDMX_START=1\nANZAHL=1\n");
    // Slot 0 is what the canvas shows full-screen until data arrive.
    dir.write("textures/.keep", "");
    writeSolidPng(dir.file("textures/000.png"), 8, 8, 0xFF8000FF);
    const std::string snapshot = dir.file("shot.png");
    std::unique_ptr<ChildProcess> program;
    {
        ScopedNetNamespace at(node);
        program = std::make_unique<ChildProcess>(
            silentHeadless(dir, {"--snapshot-frame=120", "--snapshot=" + snapshot}));
    }
    Datagram reply;
    ASSERT_TRUE(console->receiveOpCode(0x2100, &reply, std::chrono::milliseconds(kStartMs)))
        << readFile(dir.file("stderr.txt"));
    EXPECT_EQ(reply.bytes[18], 3);

    // All channels 0 by multicast sACN hide the canvas: a black frame.
    SacnPacketFields dark;
    dark.universe = 5;
    for (int i = 0; i < 5; ++i) {
        dark.sequence = static_cast<uint8_t>(i);
        ASSERT_TRUE(console->sendTo("239.255.0.5", 5568, sacnDataPacket(dark)));
    }
    ASSERT_TRUE(waitForFile(snapshot, kStartMs)) << readFile(dir.file("stderr.txt"));
    const RgbaImage shot = readRgbaPng(snapshot);
    ASSERT_TRUE(shot.ok());
    EXPECT_EQ(shot.litPixels(), 0) << "pixels still lit after all-zero sACN";

    program->signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(program->waitExit(kStopMs, &status)) << "no exit after SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(readFile(dir.file("stdout.txt")), "");
}

} // namespace
