// The files people really copy into textures/, good and bad, one program run
// each: every slot shows its picture or its documented colour, memory stays
// bounded, and the program still stops promptly with status 0.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
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

constexpr int kStartMs = 90000; // sanitizer builds start slowly
constexpr int kStopMs = 5000;   // the goal is under 1 s; this only catches a hang
// The address space the program may use (prlimit --as): a few videos need
// about 1.5 GiB of it, mostly thread stacks; a stream that grows without
// bound runs into the limit and the program dies.
constexpr long long kAddressSpaceBytes = 4LL << 30;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true; // these reserve terabytes of address space
#else
constexpr bool kSanitized = false;
#endif
// Resident memory at its peak: about 130 MiB in these runs, more under the
// sanitizers' bookkeeping.
constexpr long kMostResidentKiB = (kSanitized ? 1536L : 512L) << 10;

const std::vector<ClipSegment> kRed = {{255, 0, 0, 15}};
const char* const kH264 = "-c:v libx264 -pix_fmt yuv420p -f h264";

std::string randomBytes(size_t size, unsigned start)
{
    std::mt19937 random(start);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

struct Case {
    const char* what;
    const char* file; // under textures/, the slot 001
    std::function<bool(const TempDir&, const std::string& path)> make;
    int r, g, b;      // the colour at the centre of the screen
    int tolerance;
    bool unreadable = false;
};

bool writes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out);
}

std::vector<Case> cases()
{
    auto clip = [](const std::string& options) {
        return [options](const TempDir&, const std::string& path) {
            return makeClip(path, 64, 48, 25, kRed, options);
        };
    };
    auto bytes = [](std::function<std::string(const TempDir&)> content) {
        return [content](const TempDir& dir, const std::string& path) {
            return writes(path, content(dir));
        };
    };
    auto validPng = [](const TempDir& dir) {
        writeSolidPng(dir.file("valid.png"), 8, 8, 0x00FF00FF);
        return readFile(dir.file("valid.png"));
    };
    auto madeAs = [](const std::string& options) {
        return [options](const TempDir& dir) {
            makeClip(dir.file("source"), 64, 48, 25, kRed, options);
            return readFile(dir.file("source"));
        };
    };
    // Faint colours are drawn at a quarter opacity over black.
    return {
        {"empty PNG", "001.png", bytes([](const TempDir&) { return std::string(); }), 63, 0, 63, 4},
        {"truncated PNG", "001.png",
         bytes([=](const TempDir& d) { const std::string p = validPng(d); return p.substr(0, p.size() / 2); }),
         63, 0, 63, 4},
        {"PNG named .gif (wrong magic)", "001.gif", bytes(validPng), 0, 63, 63, 4},
        {"GIF of 0 x 0 pixels", "001.gif", bytes([](const TempDir&) { return GifBuilder(0, 0, {{1, 2, 3}}).trailer().bytes(); }),
         0, 63, 63, 4},
        {"GIF whose header says 65535 x 65535", "001.gif",
         bytes([](const TempDir&) { return GifBuilder(65535, 65535, {{1, 2, 3}}).trailer().bytes(); }), 0, 63, 63, 4},
        {"directory named .png", "001.png",
         [](const TempDir&, const std::string& path) { return mkdir(path.c_str(), 0755) == 0; }, 0, 0, 0, 4},
        {"FIFO named .png", "001.png",
         [](const TempDir&, const std::string& path) { return mkfifo(path.c_str(), 0644) == 0; }, 0, 0, 0, 4},
        {"symbolic link loop", "001.png",
         [](const TempDir&, const std::string& path) { return symlink(path.c_str(), path.c_str()) == 0; }, 0, 0, 0, 4},
        // Counts as no file: the GIF beside it is shown.
        {"unreadable PNG beside a GIF", "001.png",
         [=](const TempDir& dir, const std::string& path) {
             return writes(path, validPng(dir)) &&
                    writeSolidGif(dir.file("textures/001.gif"), 8, 8, {{0xFFFF00, 10}});
         },
         255, 255, 0, 4, true},
        {"MP4 named .h264", "001.h264", bytes(madeAs("-c:v libx264 -pix_fmt yuv420p -f mp4")), 0, 0, 63, 4},
        {"MKV named .h264", "001.h264", bytes(madeAs("-c:v libx264 -pix_fmt yuv420p -f matroska")), 0, 0, 63, 4},
        {"HEVC named .h264", "001.h264", bytes(madeAs("-c:v libx265 -x265-params log-level=error -f hevc")),
         0, 0, 63, 4},
        {"random bytes named .h264", "001.h264", bytes([](const TempDir&) { return randomBytes(300000, 9); }),
         63, 63, 0, 4},
        {"SPS wider than the texture limit", "001.h264", [](const TempDir&, const std::string& path) { return writeParameterSetsOnly(path, 17600, 16); },
         0, 0, 63, 4},
        {"stream going from 640x480 to 320x240", "001.h264",
         [](const TempDir& dir, const std::string& path) {
             return makeH264Clip(dir.file("large"), 640, 480, 25, {{255, 0, 0, 25}}) &&
                    makeH264Clip(dir.file("small"), 320, 240, 25, {{255, 0, 0, 25}}) &&
                    writes(path, readFile(dir.file("large")) + readFile(dir.file("small")));
         },
         255, 0, 0, 40},
        {"MP4 clip", "001.mp4", clip("-c:v libx264 -pix_fmt yuv420p -f mp4"), 255, 0, 0, 40},
        {"MKV clip", "001.mkv", clip("-c:v libx264 -pix_fmt yuv420p -f matroska"), 255, 0, 0, 40},
        {"MOV of MPEG-4 video", "001.mov", clip("-c:v mpeg4 -f mov"), 0, 0, 63, 4},
        {"raw H.264 clip", "001.h264", clip(kH264), 255, 0, 0, 40},
    };
}

long residentPeakKiB(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

TEST(BadFilesOnScreen, EachFileShowsItsPictureOrItsColourAndTheProgramStopsCleanly)
{
    const bool root = geteuid() == 0;
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("config.txt", "DMX_START=1\nANZAHL=1\n");
        ASSERT_EQ(mkdir(dir.file("textures").c_str(), 0755), 0);
        const std::string path = dir.file(std::string("textures/") + c.file);
        ASSERT_TRUE(c.make(dir, path));
        if (c.unreadable) {
            ASSERT_EQ(chmod(path.c_str(), 0), 0);
        }

        ChildProcess::Setup setup;
        const std::string snapshot = dir.file("snapshot.png");
        // Late enough for a stream without pictures to have been given up.
        // Root reads every file: an unreadable one needs an ordinary user, who
        // may not reach the build tree (a home of mode 700).
        const bool as_user = c.unreadable && root;
        const std::string binary = as_user ? reachableCopy(SPECTRAFOX_BINARY, dir) : SPECTRAFOX_BINARY;
        ASSERT_FALSE(binary.empty());
        std::vector<std::string> program = {binary, "--silent", "--headless=64x36",
                                            "--snapshot-frame=360", "--snapshot=" + snapshot};
        if (!kSanitized)
            program.insert(program.begin(),
                           {"prlimit", "--as=" + std::to_string(kAddressSpaceBytes), "--"});
        if (as_user) {
            program.insert(program.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        }
        setup.argv = program;
        setup.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}};
        if (as_user) {
            const auto options = reachableSanitizerOptions(dir);
            setup.environment.insert(setup.environment.end(), options.begin(), options.end());
        }
        setup.working_directory = dir.path();
        setup.stderr_path = dir.file("stderr.txt");
        setup.stdout_path = dir.file("stdout.txt");
        ChildProcess server(setup);

        // Slot 1 over the whole screen, opaque, untinted.
        std::vector<uint8_t> dmx(20, 0);
        dmx[0] = 1;
        dmx[1] = 255;
        dmx[2] = dmx[3] = 128;
        dmx[4] = dmx[5] = 255;
        dmx[10] = dmx[11] = dmx[12] = 255;
        dmx[15] = dmx[16] = 127;
        UdpPeer desk;
        const std::vector<uint8_t> packet = artDmx(0, 0, dmx);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartMs);
        while (!waitForFile(snapshot, 20) && server.running() && std::chrono::steady_clock::now() < deadline)
            desk.sendTo("127.0.0.1", 6454, packet);
        ASSERT_TRUE(waitForFile(snapshot, 1000))
            << readFile(dir.file("stdout.txt")) << readFile(dir.file("stderr.txt"));
        const long peak = residentPeakKiB(server.pid());
        EXPECT_GT(peak, 0);
        EXPECT_LT(peak, kMostResidentKiB);

        const auto stop = std::chrono::steady_clock::now();
        server.signal(SIGTERM);
        int status = 0;
        ASSERT_TRUE(server.waitExit(kStopMs, &status)) << "no exit within the bound after SIGTERM";
        const auto stop_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - stop).count();
        std::printf("%-40s stopped %lld ms after SIGTERM, resident peak %ld KiB\n", c.what,
                    static_cast<long long>(stop_ms), peak);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << status << "\n" << readFile(dir.file("stdout.txt"));

        const RgbaImage shot = readRgbaPng(snapshot);
        ASSERT_TRUE(shot.ok());
        const uint8_t* p = shot.centre();
        EXPECT_NEAR(p[0], c.r, c.tolerance);
        EXPECT_NEAR(p[1], c.g, c.tolerance);
        EXPECT_NEAR(p[2], c.b, c.tolerance);
    }
}

} // namespace
