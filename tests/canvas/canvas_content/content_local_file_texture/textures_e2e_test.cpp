// The real program on a folder of pictures, driven by ArtDmx: five canvases
// side by side each choose a content number, and the snapshot shows each kind
// of picture where it belongs.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "support/artnet_peer.h"
#include "support/child_process.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

using namespace Spectrafox::Test;

namespace {

constexpr int kWidth = 160, kHeight = 90;
constexpr int kColumns = 5;
constexpr int kStartMs = 60000; // sanitizer builds start slowly
constexpr int kStopMs = 15000;

struct Column {
    int content;
    const char* what;
    int r, g, b;     // expected colour at the column's centre
    int tolerance;   // video colours pass through YUV
};

// Canvas i: a column one fifth of the screen wide, full height, untinted.
std::vector<uint8_t> channelsFor(const std::vector<Column>& columns)
{
    std::vector<uint8_t> dmx(20 * columns.size(), 0);
    for (size_t i = 0; i < columns.size(); ++i) {
        uint8_t* block = &dmx[20 * i];
        const double centre = -0.8 + 0.4 * static_cast<double>(i); // projection units
        block[0] = static_cast<uint8_t>(columns[i].content);
        block[1] = 255;                                             // opaque
        block[2] = static_cast<uint8_t>(128 + centre * 128 + 0.5);  // position X
        block[3] = 128;                                             // position Y: centre
        block[4] = 51;                                              // half width 0.2
        block[5] = 255;                                             // full height
        block[10] = block[11] = block[12] = 255;                    // white tint
        block[15] = block[16] = 127;                                // no turning
    }
    return dmx;
}

TEST(TexturesOnScreen, EachKindOfPictureShowsWhereTheDeskPutsIt)
{
    TempDir dir;
    dir.write("config.txt", "DMX_START=1\nANZAHL=5\n");
    writeSolidPng(dir.file("textures/010.png"), 4, 4, 0xFF0000FF);
    ASSERT_TRUE(writeSolidGif(dir.file("textures/020.gif"), 4, 4, {{0x00FF00, 2000}, {0x0000FF, 2000}}));
    ASSERT_TRUE(writeSolidH264(dir.file("textures/030.h264"), 64, 36, "0xFF00FF", 2.0));
    dir.write("textures/050.h264", "no video in here");
    const std::vector<Column> columns = {
        {10, "png", 255, 0, 0, 2},
        {20, "first gif frame", 0, 255, 0, 2},
        {30, "video", 255, 0, 255, 40},
        {40, "no file: nothing", 0, 0, 0, 2},
        {50, "video of unknown size: faint yellow", 63, 63, 0, 2},
    };

    ChildProcess::Setup setup;
    const std::string snapshot = dir.file("snapshot.png");
    setup.argv = {SPECTRAFOX_BINARY, "--silent", "--headless=160x90", "--snapshot-frame=90",
                  "--snapshot=" + snapshot};
    setup.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}};
    setup.working_directory = dir.path();
    setup.stderr_path = dir.file("stderr.txt");
    ChildProcess program(setup);

    // A desk repeats its frame continuously; packets sent before the server
    // listens are simply lost.
    UdpPeer desk;
    const std::vector<uint8_t> packet = artDmx(0, 0, channelsFor(columns));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartMs);
    while (!waitForFile(snapshot, 20) && std::chrono::steady_clock::now() < deadline)
        desk.sendTo("127.0.0.1", 6454, packet);
    ASSERT_TRUE(waitForFile(snapshot, 0)) << readFile(dir.file("stderr.txt"));

    program.signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(program.waitExit(kStopMs, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const RgbaImage shot = readRgbaPng(snapshot);
    ASSERT_TRUE(shot.ok());
    ASSERT_EQ(shot.width, kWidth);
    ASSERT_EQ(shot.height, kHeight);
    for (int i = 0; i < kColumns; ++i) {
        const int x = kWidth * (2 * i + 1) / (2 * kColumns);
        const uint8_t* p = shot.at(x, kHeight / 2);
        const Column& c = columns[i];
        EXPECT_NEAR(p[0], c.r, c.tolerance) << c.what;
        EXPECT_NEAR(p[1], c.g, c.tolerance) << c.what;
        EXPECT_NEAR(p[2], c.b, c.tolerance) << c.what;
    }
}

} // namespace
