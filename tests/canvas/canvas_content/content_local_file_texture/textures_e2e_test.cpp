// The real program on a folder of pictures, driven by ArtDmx: five canvases
// side by side each choose a content number, and the snapshot shows each kind
// of picture where it belongs.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/artnet_peer.h"
#include "support/child_process.h"
#include "support/eventually.h"
#include "support/h264_clip.h"
#include "support/picture_files.h"
#include "support/snapshot_series.h"
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

// Canvas i: one of n columns side by side, full height, untinted.
std::vector<uint8_t> channelsFor(const std::vector<Column>& columns)
{
    const double n = static_cast<double>(columns.size());
    std::vector<uint8_t> dmx(20 * columns.size(), 0);
    for (size_t i = 0; i < columns.size(); ++i) {
        uint8_t* block = &dmx[20 * i];
        const double centre = -1.0 + (2.0 * static_cast<double>(i) + 1.0) / n; // projection units
        block[0] = static_cast<uint8_t>(columns[i].content);
        block[1] = 255;                                             // opaque
        block[2] = static_cast<uint8_t>(128 + centre * 128 + 0.5);  // position X
        block[3] = 128;                                             // position Y: centre
        block[4] = static_cast<uint8_t>(255.0 / n + 0.5);           // half width 1/n
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

// A folder of large pictures copied in at once while the folder is watched:
// frames go on while they are decoded, the pictures appear one after
// another, the old ones stay until then, and each picture replaced gives its
// memory back, so a second folder fits as the first did.
constexpr int kBurst = 8;
constexpr int kShotMs = 40;

// How many columns of the snapshot show `colour` (0: no snapshot).
long columnsShowing(const std::string& shot_file, const uint8_t colour[3])
{
    const RgbaImage shot = readRgbaPng(shot_file);
    long showing = 0;
    for (int i = 0; shot.width == kWidth && shot.height == kHeight && i < kBurst; ++i) {
        const uint8_t* p = shot.at(kWidth * (2 * i + 1) / (2 * kBurst), kHeight / 2);
        showing += std::abs(p[0] - colour[0]) + std::abs(p[1] - colour[1]) + std::abs(p[2] - colour[2]) < 8;
    }
    return showing;
}

TEST(TexturesOnScreen, ABurstOfLargePicturesAppearsPictureByPictureWhileFramesGoOn)
{
    TempDir dir;
    // Holds the eight pictures of 48 MB beside one being decoded, not two bursts' worth.
    dir.write("config.txt", "DMX_START=1\nANZAHL=8\nWATCH_TEXTURES=1\nTEXTURE_MEMORY_MB=600\n");
    std::vector<Column> columns;
    for (int i = 0; i < kBurst; ++i) {
        writeSolidPng(dir.file("textures/0" + std::to_string(10 + i) + ".png"), 4, 4, 0xFF0000FF);
        columns.push_back({10 + i, "", 0, 0, 0, 0});
    }
    for (const char* colour : {"00FF00", "0000FF"})
        ASSERT_TRUE(runFfmpeg("-f lavfi -i color=c=0x" + std::string(colour) + ":s=4000x3000 -frames:v 1 '" +
                              dir.file(std::string(colour) + ".png") + "'"));
    std::filesystem::create_directories(dir.file("shots"));
    ChildProcess::Setup setup;
    setup.argv = {SPECTRAFOX_BINARY, "--silent", "--headless=160x90", "--snapshot=" + dir.file("shots/shot.png"),
                  "--snapshot-every=" + std::to_string(kShotMs)};
    setup.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}};
    setup.working_directory = dir.path();
    setup.stderr_path = dir.file("stderr.txt");
    const long long started = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::system_clock::now().time_since_epoch()).count() / kShotMs;
    ChildProcess program(setup);
    UdpPeer desk;
    // Until the newest snapshot shows `colour` in every column.
    auto allShow = [&](const uint8_t colour[3], int limit_ms) {
        return eventually([&] {
            desk.sendTo("127.0.0.1", 6454, artDmx(0, 0, channelsFor(columns)));
            const auto shots = snapshotsByInterval(dir.file("shots"), started);
            return !shots.empty() && columnsShowing(shots.rbegin()->second, colour) == kBurst;
        }, std::chrono::milliseconds(limit_ms), std::chrono::milliseconds(20));
    };
    const uint8_t red[3] = {255, 0, 0}, green[3] = {0, 255, 0}, blue[3] = {0, 0, 255};
    ASSERT_TRUE(allShow(red, kStartMs)) << readFile(dir.file("stderr.txt"));

    for (const auto& [name, colour] : {std::pair{"00FF00", green}, std::pair{"0000FF", blue}}) {
        SCOPED_TRACE(name);
        // Copied aside, then renamed in within a millisecond, as rsync leaves them.
        for (int i = 0; i < kBurst; ++i)
            std::filesystem::copy_file(dir.file(std::string(name) + ".png"), dir.file(std::to_string(i) + ".png"));
        const auto before = snapshotsByInterval(dir.file("shots"), started);
        for (int i = 0; i < kBurst; ++i)
            std::filesystem::rename(dir.file(std::to_string(i) + ".png"),
                                    dir.file("textures/0" + std::to_string(10 + i) + ".png"));
        ASSERT_TRUE(allShow(colour, 120000)) << "every picture shows, none left out";
        // Snapshots with some new pictures and some old: a render thread that
        // decoded the burst itself would go from all old to all new at once.
        const auto shots = snapshotsByInterval(dir.file("shots"), started);
        int partial = 0;
        for (auto shot = shots.upper_bound(before.rbegin()->first);
             shot != shots.end() && columnsShowing(shot->second, colour) < kBurst; ++shot)
            partial += columnsShowing(shot->second, colour) > 0;
        EXPECT_GE(partial, 3) << "the pictures did not come one by one while frames went on";
    }
    program.signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(program.waitExit(kStopMs, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace
