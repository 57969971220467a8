#include "platform/graphics/frame_snapshot.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

} // namespace
