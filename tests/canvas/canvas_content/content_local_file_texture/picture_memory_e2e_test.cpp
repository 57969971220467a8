// Pictures that together, or alone, would take more memory than the server
// may have: the server starts under an address-space limit far below the
// machine's memory, runs, and every slot shows its picture or the faint
// orange of a picture left out, the slots before it kept.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "support/artnet_peer.h"
#include "support/child_process.h"
#include "support/gif_writer.h"
#include "support/h264_clip.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

using namespace Spectrafox::Test;

namespace {

constexpr int kStartMs = 120000; // the large files take a while to make and measure
constexpr int kStopMs = 5000;
constexpr long long kAddressSpaceBytes = 2LL << 30;
constexpr int kScreenWidth = 120;
constexpr int kScreenHeight = 20;

// A GIF of `frames` frames of side x side pixels, each of one colour index.
std::string animation(int side, int frames, uint8_t index)
{
    GifBuilder gif(side, side, {{255, 0, 0}, {0, 255, 0}});
    for (int k = 0; k < frames; ++k)
        gif.graphicControl(5).image(solidImage(side, side, index));
    return gif.trailer().bytes();
}

// A 1 x 1 GIF of a million frames: about 23 MB of file, a million textures.
std::string millionFrames()
{
    GifBuilder head(1, 1, {{255, 0, 0}, {0, 255, 0}});
    GifBuilder one = head;
    one.graphicControl(1).image(solidImage(1, 1, 0));
    const std::string frame = one.bytes().substr(head.bytes().size());
    std::string bytes = head.bytes();
    bytes.reserve(bytes.size() + frame.size() * 1000000 + 1);
    for (int k = 0; k < 1000000; ++k)
        bytes += frame;
    return bytes + ";";
}

struct Slot {
    const char* what;
    int r, g, b; // at the centre of the slot's canvas
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true; // these reserve terabytes of address space
#else
constexpr bool kSanitized = false;
#endif

TEST(PictureMemoryOnScreen, PicturesBeyondTheBudgetAreLeftOutAndTheServerRuns)
{
    TempDir dir;
    // 64 MiB: the first GIF (20 frames of 1 MiB) fits, the second (24) would
    // fit alone but not beside it.
    dir.write("config.txt", "DMX_START=1\nANZAHL=6\nTEXTURE_MEMORY_MB=64\n");
    writeSolidPng(dir.file("textures/000.png"), 8, 8, 0x00FF00FF);
    dir.write("textures/001.gif", animation(512, 20, 0));
    dir.write("textures/002.gif", animation(512, 24, 1));
    ASSERT_TRUE(runFfmpeg("-f lavfi -i color=c=white:s=12000x8000 -frames:v 1 -pix_fmt rgba '" +
                          dir.file("textures/003.png") + "'"));
    dir.write("textures/004.gif", millionFrames());
    writeSolidPng(dir.file("textures/005.png"), 8, 8, 0x0000FFFF);
    const Slot kOrange = {"left out", 63, 32, 0};
    const Slot slots[] = {{"small PNG", 0, 255, 0}, {"first GIF", 255, 0, 0}, kOrange,
                          kOrange, kOrange, {"small PNG after them", 0, 0, 255}};

    ChildProcess::Setup setup;
    const std::string snapshot = dir.file("snapshot.png");
    setup.argv = {SPECTRAFOX_BINARY, "--silent",
                  "--headless=" + std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight),
                  "--snapshot-frame=60", "--snapshot=" + snapshot};
    if (!kSanitized)
        setup.argv.insert(setup.argv.begin(), {"prlimit", "--as=" + std::to_string(kAddressSpaceBytes), "--"});
    setup.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}};
    setup.working_directory = dir.path();
    setup.stderr_path = dir.file("stderr.txt");
    setup.stdout_path = dir.file("stdout.txt");
    ChildProcess server(setup);

    // Six canvases side by side, canvas i showing slot i, opaque, untinted.
    std::vector<uint8_t> dmx(6 * 20, 0);
    for (int i = 0; i < 6; ++i) {
        uint8_t* block = &dmx[20 * i];
        block[0] = static_cast<uint8_t>(i);
        block[1] = 255;
        block[2] = static_cast<uint8_t>(21 + 42 * i);
        block[3] = 128;
        block[4] = 40;
        block[5] = 255;
        block[10] = block[11] = block[12] = 255;
        block[15] = block[16] = 127;
    }
    UdpPeer desk;
    const std::vector<uint8_t> packet = artDmx(0, 0, dmx);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartMs);
    while (!waitForFile(snapshot, 20) && server.running() && std::chrono::steady_clock::now() < deadline)
        desk.sendTo("127.0.0.1", 6454, packet);
    ASSERT_TRUE(waitForFile(snapshot, 1000)) << readFile(dir.file("stdout.txt")) << readFile(dir.file("stderr.txt"));

    server.signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(server.waitExit(kStopMs, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const RgbaImage shot = readRgbaPng(snapshot);
    ASSERT_TRUE(shot.ok());
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(std::string("slot ") + std::to_string(i) + ": " + slots[i].what);
        const uint8_t* p = shot.at((21 + 42 * i) * shot.width / 255, shot.height / 2);
        EXPECT_NEAR(p[0], slots[i].r, 4);
        EXPECT_NEAR(p[1], slots[i].g, 4);
        EXPECT_NEAR(p[2], slots[i].b, 4);
    }
}

} // namespace
