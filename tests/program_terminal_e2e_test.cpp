// Drives the built program in a real terminal (a private tmux server).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"
#include "support/tmux_session.h"

using Spectrafox::Test::readFile;
using Spectrafox::Test::runCommand;
using Spectrafox::Test::TempDir;
using Spectrafox::Test::TmuxSession;

namespace {

constexpr const char* kVersionLine = "Raspberry Pi Spectrafox | Version: 0.3.2";
constexpr const char* kBoldOn = "\x1b[1m";

class ProgramInTerminal : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Out-of-range values must show replaced on the "Config:" line.
        dir.write("config.txt", "SUBNET=3\nUNIVERSE=16\nANZAHL=26\nDMX_START=200\nZOOM=2\n");
        // The slot line names a broken file by number, in words.
        dir.write("textures/007.gif", "GIF89a and nothing after");
    }

    std::unique_ptr<TmuxSession> start(const std::string& args = "")
    {
        // Always offscreen: a developer's desktop must not get a full-screen window.
        auto session = std::make_unique<TmuxSession>(
            std::string("'") + SPECTRAFOX_BINARY + "' --headless=320x180 " + args, dir.path());
        return session;
    }

    static bool waitForStartMessage(const TmuxSession& session)
    {
        return TmuxSession::waitUntil(
            [&] { return session.capture().find("Press 'q' to quit!") != std::string::npos; });
    }

    static void expectCleanExit(const TmuxSession& session)
    {
        ASSERT_TRUE(TmuxSession::waitUntil([&] { return session.isDead(); }));
        EXPECT_EQ(session.exitStatus(), 0);
        // The terminal is handed back: no alternate screen, cursor visible.
        EXPECT_EQ(session.paneValue("alternate_on"), "0");
        EXPECT_EQ(session.paneValue("cursor_flag"), "1");
    }

    TempDir dir;
};

TEST_F(ProgramInTerminal, ShowsBoldTitleAndCheckedConfigThenQuitsOnLowerCaseQOnly)
{
    auto session = start();
    ASSERT_TRUE(waitForStartMessage(*session)) << session->capture();

    const std::string title = session->line(0, true);
    EXPECT_NE(title.find(std::string(kBoldOn)), std::string::npos) << title;
    EXPECT_EQ(session->line(0), kVersionLine);
    EXPECT_EQ(session->line(1), "Config: Subnet:3 Universe:0 Num:1 DMX:200 Zoom:2");
    // Only the title is bold.
    EXPECT_EQ(session->line(1, true).find(kBoldOn), std::string::npos);
    EXPECT_EQ(session->line(2), "Screen: 320 x 180");
    EXPECT_EQ(session->line(6), "Slots: 0 pictures, 0 GIFs, 0 videos playing, 0 waiting; "
                                "7: .gif that cannot be read or decoded");
    // Line 4 is the live frame rate: a number alone, whatever longer figure
    // (the first frames' very high rates) stood there before.
    ASSERT_TRUE(TmuxSession::waitUntil([&] { return session->line(4).rfind(" FPS: ", 0) == 0; }));
    TmuxSession::waitUntil([] { return false; }, std::chrono::milliseconds(500));
    const std::string rate = session->line(4).substr(6);
    char* end = nullptr;
    EXPECT_GT(std::strtod(rate.c_str(), &end), 0.0) << rate;
    EXPECT_EQ(std::string(end), "") << "left over after the rate: " << rate;
    EXPECT_EQ(session->paneValue("alternate_on"), "1");

    session->sendKeys("Q");
    EXPECT_FALSE(TmuxSession::waitUntil([&] { return session->isDead(); }, std::chrono::milliseconds(700)));

    session->sendKeys("q");
    expectCleanExit(*session);
}

// The timecode has a row of its own: the slot line below it stays.
TEST_F(ProgramInTerminal, TimecodeLineKeepsItsOwnRow)
{
    dir.write("config.txt", "TIMECODE=master\n");
    auto session = start();
    ASSERT_TRUE(waitForStartMessage(*session)) << session->capture();
    ASSERT_TRUE(TmuxSession::waitUntil([&] { return session->line(5).rfind("Timecode ", 0) == 0; }))
        << session->capture();
    TmuxSession::waitUntil([] { return false; }, std::chrono::milliseconds(600));
    EXPECT_EQ(session->line(6).rfind("Slots: ", 0), 0u) << session->capture();
    session->sendKeys("q");
    expectCleanExit(*session);
}

// Under the boot service a stray q must not end the show; s on the console
// takes a snapshot as the window's s does.
TEST_F(ProgramInTerminal, UnderTheServiceQSaysHowToStopAndSTakesASnapshot)
{
    auto session = start("--service --snapshot=shot.png");
    ASSERT_TRUE(waitForStartMessage(*session)) << session->capture();
    session->sendKeys("q");
    ASSERT_TRUE(TmuxSession::waitUntil(
        [&] { return session->capture().find("systemctl stop spectrafox") != std::string::npos; }))
        << session->capture();
    EXPECT_FALSE(session->isDead());
    session->sendKeys("s");
    EXPECT_TRUE(TmuxSession::waitUntil([&] {
        return !runCommand("ls '" + dir.path() + "' | grep -E '^shot-[0-9]{6}\\.png$'").empty();
    }));
    ASSERT_EQ(kill(session->programPid(), SIGTERM), 0);
    expectCleanExit(*session);
}

TEST_F(ProgramInTerminal, SigtermEndsWithStatusZeroAndRestoresTheTerminal)
{
    auto session = start("--some-unknown-switch");
    ASSERT_TRUE(waitForStartMessage(*session)) << session->capture();
    ASSERT_EQ(kill(session->programPid(), SIGTERM), 0);
    expectCleanExit(*session);
}

TEST_F(ProgramInTerminal, SilentWritesNothingAndEndsOnSigint)
{
    auto session = start("--silent");
    const int pid = session->programPid();
    ASSERT_GT(pid, 0);
    // Give it time to start up fully; the screen must stay blank throughout.
    TmuxSession::waitUntil([] { return false; }, std::chrono::milliseconds(1500));
    EXPECT_FALSE(session->isDead());
    EXPECT_EQ(session->capture().find_first_not_of(" \n"), std::string::npos) << session->capture();
    EXPECT_EQ(session->paneValue("alternate_on"), "0");
    ASSERT_EQ(kill(pid, SIGINT), 0);
    ASSERT_TRUE(TmuxSession::waitUntil([&] { return session->isDead(); }));
    EXPECT_EQ(session->exitStatus(), 0);
    EXPECT_EQ(session->programOutput(), "");
}

TEST_F(ProgramInTerminal, HelpPrintsOnlyTheVersionLineWhereverItStands)
{
    for (const char* args : {"--help", "--silent --help", "--help --silent", "x --help"}) {
        auto session = start(args);
        ASSERT_TRUE(TmuxSession::waitUntil([&] { return session->isDead(); })) << args;
        EXPECT_EQ(session->exitStatus(), 0) << args;
        EXPECT_EQ(session->programOutput(), kVersionLine) << args;
    }
}

TEST_F(ProgramInTerminal, FatalStartUpErrorStillRestoresTheTerminal)
{
    // Another program holds the Art-Net port: the receiver ends the process.
    const int other = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(other, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(6454);
    ASSERT_EQ(bind(other, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    auto session = start();
    ASSERT_TRUE(TmuxSession::waitUntil([&] { return session->isDead(); })) << session->capture();
    close(other);
    EXPECT_EQ(session->exitStatus(), 1);
    EXPECT_EQ(session->paneValue("alternate_on"), "0");
    EXPECT_EQ(session->paneValue("cursor_flag"), "1");
    EXPECT_NE(session->capture().find("Kann Portnummern 6454 nicht binden"), std::string::npos)
        << session->capture();
}

// The frame-rate figure on line 4, or a negative number while none shows.
double frameRateShown(const TmuxSession& session)
{
    const std::string line = session.line(4);
    if (line.rfind(" FPS: ", 0) != 0)
        return -1.0;
    return std::strtod(line.c_str() + 6, nullptr);
}

// A lone Esc made curses wait a second for the rest of a sequence while the
// render loop waited for curses: the rate shown drops far below the cap.
TEST_F(ProgramInTerminal, NoKeyOrEscapeSequenceStallsTheRenderLoop)
{
    auto session = start();
    ASSERT_TRUE(waitForStartMessage(*session)) << session->capture();
    ASSERT_TRUE(TmuxSession::waitUntil([&] { return frameRateShown(*session) > 0.0; }))
        << session->capture();
    // The lowest rate shown over a while, sampled as fast as tmux allows.
    const auto lowestRateOver = [&](std::chrono::milliseconds period) {
        double lowest = 1000.0;
        const auto until = std::chrono::steady_clock::now() + period;
        while (std::chrono::steady_clock::now() < until) {
            const double rate = frameRateShown(*session);
            if (rate >= 0.0 && rate < lowest)
                lowest = rate;
            TmuxSession::waitUntil([] { return false; }, std::chrono::milliseconds(20));
        }
        return lowest;
    };
    // What this machine (a sanitizer build, a busy host) shows without keys.
    const double undisturbed = lowestRateOver(std::chrono::milliseconds(1500));
    const char* keys[] = {"\x1b", "\x1b[A", "\x1bOP", "\x1b[", "\x1b\x1b", "\x1b[1;5", "\x1bx",
                          "\x13", "\x1b", "x", "\x1b[15~", "\x1b"};
    // Each key's lowest rate; a busy host may stall the process once, a
    // one-second wait per Esc stalls it after every lone or unfinished one.
    std::vector<std::pair<double, std::string>> after_key;
    for (const char* key : keys) {
        session->sendKeys(key);
        after_key.emplace_back(lowestRateOver(std::chrono::milliseconds(700)),
                               ::testing::PrintToString(std::string(key)));
    }
    std::sort(after_key.begin(), after_key.end());
    // A one-second stall shows as a rate below 10 for the next frames, at
    // any undisturbed rate; half the undisturbed rate leaves room for hiccups.
    const double bound = std::max(12.0, undisturbed / 2.0);
    EXPECT_GT(after_key[1].first, bound)
        << "lowest " << after_key[0].first << " after " << after_key[0].second << ", next "
        << after_key[1].first << " after " << after_key[1].second << "; undisturbed " << undisturbed
        << "\n" << session->capture();
    EXPECT_FALSE(session->isDead()) << "a key other than q ended it";
    session->sendKeys("q");
    expectCleanExit(*session);
}

// Every way out hands the terminal back exactly as the shell had it, the
// fatal ones (which skip the normal clean-up) included.
TEST_F(ProgramInTerminal, EveryExitLeavesTheTerminalSettingsAsFound)
{
    const std::string program = std::string("'") + SPECTRAFOX_BINARY + "'";
    const struct {
        const char* name;
        std::string command;
        bool take_port;
        bool send_sigterm;
        int status;
    } cases[] = {
        {"Art-Net port taken", program + " --headless=320x180", true, false, 1},
        {"no display", "env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR " + program, false,
         false, 1},
        {"SIGTERM", program + " --headless=320x180", false, true, 0},
        {"SIGTERM, silent", program + " --silent --headless=320x180", false, true, 0},
    };
    for (const auto& c : cases) {
        if (std::string(c.name) == "no display" && access("/dev/dri", F_OK) == 0)
            continue; // the program would take the real screen
        int other = -1;
        if (c.take_port) {
            other = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(6454);
            ASSERT_EQ(bind(other, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        }
        const std::string before = dir.file("before.txt");
        const std::string after = dir.file("after.txt");
        std::remove(after.c_str());
        TmuxSession session("stty -g > before.txt; " + c.command +
                                "; s=$?; stty -g > after.txt; (exit $s)",
                            dir.path());
        if (c.send_sigterm) {
            ASSERT_TRUE(TmuxSession::waitUntil([&] {
                return readFile(before) != "";
            }));
            int pid = 0;
            ASSERT_TRUE(TmuxSession::waitUntil([&] {
                pid = std::atoi(runCommand("pgrep -n -x rpi_spectrafox -P " +
                                           session.paneValue("pane_pid")).c_str());
                return pid > 0;
            }));
            TmuxSession::waitUntil([] { return false; }, std::chrono::milliseconds(1500));
            ASSERT_EQ(kill(pid, SIGTERM), 0);
        }
        ASSERT_TRUE(TmuxSession::waitUntil([&] { return session.isDead(); })) << c.name
                                                                              << session.capture();
        if (other >= 0)
            close(other);
        EXPECT_EQ(session.exitStatus(), c.status) << c.name << session.capture();
        EXPECT_NE(readFile(before), "") << c.name;
        EXPECT_EQ(readFile(after), readFile(before)) << c.name;
        EXPECT_EQ(session.paneValue("alternate_on"), "0") << c.name;
        EXPECT_EQ(session.paneValue("cursor_flag"), "1") << c.name;
        if (std::string(c.name) == "no display") {
            EXPECT_NE(session.capture().find("no display could be opened"), std::string::npos)
                << session.capture();
        }
    }
}

TEST(ProgramOutput, HelpOnAPipeIsExactlyTheVersionLine)
{
    int status = -1;
    const std::string out = runCommand(std::string("'") + SPECTRAFOX_BINARY + "' --help", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, std::string(kVersionLine) + "\n");
}

} // namespace
