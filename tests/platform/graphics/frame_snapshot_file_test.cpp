#include "platform/graphics/frame_snapshot.h"
#include "platform/graphics/snapshot_writer.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

bool isLink(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// Anyone who can write the show folder must not make the server (root)
// write elsewhere: links planted where the snapshot or its temporary file
// go are replaced or left alone, never written through.
TEST(SnapshotFileTest, LinksAtThePathOrItsTemporaryNameAreNotFollowed)
{
    const struct {
        const char* what;
        const char* link_name;
    } cases[] = {
        {"link at the snapshot", "shot.png"},
        {"link at the old temporary name", "shot.png.part"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        dir.write("outside/victim", "keep me");
        ASSERT_EQ(::symlink(dir.file("outside/victim").c_str(), dir.file(c.link_name).c_str()), 0);
        const std::vector<unsigned char> red = {255, 0, 0, 255, 0, 0};
        ASSERT_TRUE(FrameSnapshot::writeRgbPng(dir.file("shot.png"), 2, 1, red)) << c.what;
        EXPECT_EQ(readFile(dir.file("outside/victim")), "keep me") << c.what;
        EXPECT_FALSE(isLink(dir.file("shot.png"))) << c.what;
        const RgbaImage shot = readRgbaPng(dir.file("shot.png"));
        ASSERT_TRUE(shot.ok()) << c.what;
        EXPECT_EQ(shot.at(1, 0)[0], 255) << c.what;
    }
}

// Whether the child ended on its own within the limit (else it is killed).
bool endsWithin(pid_t child, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status);
}

// A stop past its deadline ends the process where it stands, the snapshot
// thread mid-picture (noise compresses slowly): what the folder holds then
// is the whole snapshot or nothing, never a temporary file.
TEST(SnapshotFileTest, AProcessEndedMidSnapshotLeavesItWholeOrAbsent)
{
    constexpr int kWidth = 1920, kHeight = 1080;
    std::vector<unsigned char> noise(static_cast<size_t>(kWidth) * kHeight * 3);
    std::mt19937 random(5);
    for (unsigned char& byte : noise)
        byte = static_cast<unsigned char>(random());
    for (const int stop_after_ms : {0, 60, 250, 3000}) {
        SCOPED_TRACE(stop_after_ms);
        TempDir dir;
        const pid_t child = ::fork();
        if (child == 0) {
            SnapshotWriter writer;
            writer.submit({dir.file("shot.png"), kWidth, kHeight, noise});
            std::this_thread::sleep_for(std::chrono::milliseconds(stop_after_ms));
            FrameSnapshot::closeFiles(); // what the stop deadline does before it ends the process
            std::_Exit(0);
        }
        ASSERT_TRUE(endsWithin(child, std::chrono::seconds(20)));
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            ASSERT_EQ(entry.path().filename(), "shot.png");
            const RgbaImage shot = readRgbaPng(entry.path());
            ASSERT_EQ(shot.width, kWidth);
            EXPECT_EQ(shot.at(kWidth - 1, kHeight - 1)[2], noise.back());
        }
    }
}

} // namespace
