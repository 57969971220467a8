#include "platform/graphics/frame_snapshot.h"
#include "platform/graphics/snapshot_writer.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>

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

// A stop past its deadline ends the process where it stands, the snapshot
// thread mid-picture (noise compresses slowly): the folder then holds the
// whole snapshot or nothing, never a temporary file.
TEST(SnapshotFileTest, AProcessEndedMidSnapshotLeavesItWholeOrAbsent)
{
    std::vector<unsigned char> noise(1920 * 1080 * 3);
    std::generate(noise.begin(), noise.end(), std::mt19937(5));
    for (const int stop_after_ms : {0, 60, 250, 3000}) {
        TempDir dir;
        const pid_t child = ::fork();
        if (child == 0) {
            ::alarm(20); // the bound of the wait below
            SnapshotWriter writer;
            writer.submit({dir.file("shot.png"), 1920, 1080, noise});
            ::usleep(stop_after_ms * 1000);
            FrameSnapshot::closeFiles(); // as the stop deadline does, before it ends the process
            std::_Exit(0);
        }
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            ASSERT_EQ(entry.path().filename(), "shot.png") << stop_after_ms;
            const RgbaImage shot = readRgbaPng(entry.path());
            ASSERT_EQ(shot.width, 1920) << stop_after_ms;
            EXPECT_EQ(shot.at(1919, 1079)[2], noise.back()) << stop_after_ms;
        }
    }
}

} // namespace
