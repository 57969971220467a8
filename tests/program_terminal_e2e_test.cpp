// Drives the built program in a real terminal (a private tmux server).
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <string>

#include "support/temp_dir.h"
#include "support/tmux_session.h"

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

TEST(ProgramOutput, HelpOnAPipeIsExactlyTheVersionLine)
{
    int status = -1;
    const std::string out = runCommand(std::string("'") + SPECTRAFOX_BINARY + "' --help", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, std::string(kVersionLine) + "\n");
}

} // namespace
