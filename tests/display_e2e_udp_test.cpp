// Runs the real program headless and under Xvfb and checks what it showed.
// Named *_udp_test: the program binds the Art-Net port.
#include "support/child_process.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <stb_image_write.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>

using namespace Spectrafox::Test;

namespace {

constexpr int kStartMs = 30000; // llvmpipe start-up under sanitizers is slow
constexpr int kStopMs = 10000;

struct Picture {
    int width = 0, height = 0;
    bool uniform = false;
    unsigned char centre[4] = {0, 0, 0, 0};
};

Picture readPng(const std::string& path)
{
    Picture picture;
    const RgbaImage image = readRgbaPng(path);
    if (!image.ok())
        return picture;
    picture.width = image.width;
    picture.height = image.height;
    for (int k = 0; k < 4; ++k)
        picture.centre[k] = image.centre()[k];
    picture.uniform = true;
    for (size_t i = 0; i < image.rgba.size() && picture.uniform; ++i)
        picture.uniform = image.rgba[i] == image.rgba[i % 4];
    return picture;
}

bool isBlack(const Picture& picture)
{
    return picture.centre[0] == 0 && picture.centre[1] == 0 && picture.centre[2] == 0;
}

// Slot 0, which every canvas shows before any DMX arrives: a solid orange.
void writeSlotZeroPicture(const TempDir& dir)
{
    const unsigned char orange[4] = {255, 128, 0, 255};
    std::vector<unsigned char> pixels;
    for (int i = 0; i < 8 * 8; ++i)
        pixels.insert(pixels.end(), orange, orange + 4);
    dir.write("textures/.keep", "");
    ASSERT_TRUE(stbi_write_png(dir.file("textures/000.png").c_str(), 8, 8, 4, pixels.data(), 8 * 4));
}

// Starts the program, waits for its snapshot, then stops it with SIGTERM
// and expects a clean exit.
void runUntilSnapshot(const TempDir& dir, std::vector<std::string> switches,
                      std::vector<std::pair<std::string, std::string>> environment,
                      const std::string& snapshot)
{
    writeSlotZeroPicture(dir);
    ChildProcess::Setup setup;
    setup.argv = {SPECTRAFOX_BINARY, "--silent"};
    setup.argv.insert(setup.argv.end(), switches.begin(), switches.end());
    setup.environment = std::move(environment);
    setup.working_directory = dir.path();
    setup.stderr_path = dir.file("stderr.txt");
    ChildProcess program(setup);
    ASSERT_TRUE(waitForFile(snapshot, kStartMs)) << readFile(dir.file("stderr.txt"));
    program.signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(program.waitExit(kStopMs, &status)) << "no exit after SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "status " << status << "\n" << readFile(dir.file("stderr.txt"));
}

const std::vector<std::pair<std::string, std::string>> kNoDisplay = {
    {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}};

TEST(DisplayE2eTest, HeadlessAtAChosenSizeWritesTheSnapshot)
{
    TempDir dir;
    const std::string snapshot = dir.file("headless.png");
    runUntilSnapshot(dir, {"--headless=320x180", "--snapshot-frame=3", "--snapshot=" + snapshot},
                     kNoDisplay, snapshot);
    const Picture picture = readPng(snapshot);
    EXPECT_EQ(picture.width, 320);
    EXPECT_EQ(picture.height, 180);
    // The default canvas fills the screen with its content.
    EXPECT_TRUE(picture.uniform);
    EXPECT_FALSE(isBlack(picture));
}

// Started the way a service starts it, with no desktop and no usable console
// output: it must say what it tried and fail, never render to nowhere.
TEST(DisplayE2eTest, WithoutAnyDisplayExitsOneAndSaysWhatWasTried)
{
    if (access("/dev/dri", F_OK) == 0)
        GTEST_SKIP() << "a KMS device exists here; the program would take the real screen";
    const struct {
        const char* name;
        std::string video_driver; // SDL_VIDEODRIVER in the environment
    } cases[] = {
        {"plain", ""},
        {"environment asks for offscreen", "offscreen"},
        {"environment asks for x11 first", "x11,offscreen"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ChildProcess::Setup setup;
        setup.argv = {SPECTRAFOX_BINARY, "--silent", "--snapshot-frame=2",
                      "--snapshot=" + dir.file("none.png")};
        setup.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"XDG_RUNTIME_DIR", ""},
                             {"SDL_VIDEODRIVER", c.video_driver}};
        setup.working_directory = dir.path();
        setup.stderr_path = dir.file("stderr.txt");
        ChildProcess program(setup);
        int status = 0;
        ASSERT_TRUE(program.waitExit(kStartMs, &status)) << c.name << ": still running";
        const std::string error = readFile(dir.file("stderr.txt"));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << c.name << " " << status;
        EXPECT_NE(error.find("no display could be opened"), std::string::npos) << c.name << error;
        EXPECT_NE(error.find("\n  kmsdrm ("), std::string::npos) << c.name << error;
        EXPECT_NE(error.find("no graphics device"), std::string::npos) << c.name << error;
        EXPECT_NE(error.find("--headless=1920x1080"), std::string::npos) << c.name << error;
        // Only what was really tried: no desktop was named, so no desktop driver.
        EXPECT_EQ(error.find("x11"), std::string::npos) << c.name << error;
        EXPECT_EQ(error.find("wayland"), std::string::npos) << c.name << error;
        EXPECT_EQ(error.find("offscreen"), std::string::npos) << c.name << error;
        EXPECT_NE(access(dir.file("none.png").c_str(), F_OK), 0) << c.name << ": rendered anyway";
    }
}

// The switches decide, not a variable left in the environment.
TEST(DisplayE2eTest, HeadlessWinsOverTheEnvironmentsVideoDriver)
{
    for (const char* video_driver : {"x11", "kmsdrm", "wayland,x11", "nonsense"}) {
        TempDir dir;
        const std::string snapshot = dir.file("shot.png");
        runUntilSnapshot(dir, {"--headless=64x36", "--snapshot-frame=2", "--snapshot=" + snapshot},
                         {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", video_driver}},
                         snapshot);
        EXPECT_EQ(readPng(snapshot).width, 64) << video_driver;
    }
}

class Xvfb {
public:
    explicit Xvfb(const TempDir& dir)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        ChildProcess::Setup setup;
        setup.argv = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "640x360x24",
                      "-nolisten", "tcp"};
        setup.extra_fd = fds[1];
        setup.stderr_path = dir.file("xvfb.txt");
        server = std::make_unique<ChildProcess>(setup);
        close(fds[1]);
        display = readDisplayNumber(fds[0]);
        close(fds[0]);
    }
    ~Xvfb()
    {
        if (!server)
            return;
        server->signal(SIGTERM);
        int status = 0;
        server->waitExit(kStopMs, &status);
    }
    const std::string& name() const { return display; }

private:
    // Xvfb picks a free display number and writes it, then a newline.
    static std::string readDisplayNumber(int fd)
    {
        std::string number;
        while (true) {
            pollfd readable{fd, POLLIN, 0};
            if (poll(&readable, 1, kStartMs) <= 0)
                return "";
            char c = 0;
            if (read(fd, &c, 1) != 1)
                return "";
            if (c == '\n')
                return ":" + number;
            number += c;
        }
    }

    std::unique_ptr<ChildProcess> server;
    std::string display;
};

TEST(DisplayE2eTest, UnderXvfbAsWindowAndFullScreen)
{
    TempDir dir;
    Xvfb x(dir);
    ASSERT_FALSE(x.name().empty()) << readFile(dir.file("xvfb.txt"));
    const std::vector<std::pair<std::string, std::string>> environment = {
        {"DISPLAY", x.name()}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}};
    const struct {
        const char* name;
        std::vector<std::string> switches;
        int width, height;
    } cases[] = {
        {"window", {"--window=320x180"}, 320, 180},
        {"full screen", {}, 640, 360},
    };
    for (const auto& c : cases) {
        const std::string snapshot = dir.file(std::string(c.name) + ".png");
        std::vector<std::string> switches = c.switches;
        switches.push_back("--snapshot-frame=5");
        switches.push_back("--snapshot=" + snapshot);
        runUntilSnapshot(dir, switches, environment, snapshot);
        const Picture picture = readPng(snapshot);
        EXPECT_EQ(picture.width, c.width) << c.name;
        EXPECT_EQ(picture.height, c.height) << c.name;
        EXPECT_TRUE(picture.uniform) << c.name;
        EXPECT_FALSE(isBlack(picture)) << c.name;
    }
}

TEST(DisplayE2eTest, DisplaySetupFailureNamesTheConditionAndExitsNonZero)
{
    TempDir dir;
    ChildProcess::Setup setup;
    setup.argv = {SPECTRAFOX_BINARY, "--silent", "--headless=64x36"};
    // No EGL vendor library: the EGL display cannot come up.
    setup.environment = {{"__EGL_VENDOR_LIBRARY_FILENAMES", dir.file("none.json")},
                         {"DISPLAY", ""}};
    setup.working_directory = dir.path();
    setup.stdout_path = dir.file("stdout.txt");
    setup.stderr_path = dir.file("stderr.txt");
    ChildProcess program(setup);
    int status = 0;
    ASSERT_TRUE(program.waitExit(kStartMs, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;
    const std::string error = readFile(dir.file("stderr.txt"));
    EXPECT_NE(error.find("src/canvas/renderer.cpp"), std::string::npos) << error;
    const bool names_condition =
        error.find("eglGetDisplay: Assertion `this->display!=((EGLDisplay)0)' failed") !=
            std::string::npos ||
        error.find("eglInitialize: Assertion `((EGLBoolean)0) != result' failed") !=
            std::string::npos;
    EXPECT_TRUE(names_condition) << error;
    EXPECT_NE(error.find("\nhint: "), std::string::npos) << error;
}

TEST(DisplayE2eTest, HelpStillPrintsOnlyTheVersionLine)
{
    TempDir dir;
    ChildProcess::Setup setup;
    setup.argv = {SPECTRAFOX_BINARY, "--headless=bad", "--window=640x360", "--help"};
    setup.stdout_path = dir.file("stdout.txt");
    setup.stderr_path = dir.file("stderr.txt");
    ChildProcess program(setup);
    int status = 0;
    ASSERT_TRUE(program.waitExit(kStopMs, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readFile(dir.file("stdout.txt")), "Raspberry Pi Spectrafox | Version: 0.3.2\n");
    EXPECT_EQ(readFile(dir.file("stderr.txt")), "");
}

TEST(DisplayE2eTest, MalformedDisplaySwitchIsReportedAndIgnored)
{
    TempDir dir;
    const std::string snapshot = dir.file("shot.png");
    runUntilSnapshot(dir, {"--headless=64x36", "--window=wide", "--snapshot-frame=1",
                           "--snapshot=" + snapshot},
                     kNoDisplay, snapshot);
    EXPECT_NE(readFile(dir.file("stderr.txt")).find("malformed switch --window=wide"),
              std::string::npos);
    EXPECT_EQ(readPng(snapshot).width, 64);
}

} // namespace
