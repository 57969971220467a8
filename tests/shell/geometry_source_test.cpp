#include "shell/geometry_source.h"

#include "support/eventually.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace Spectrafox::Test {

namespace {

// What the source handed over, as the renderer would take it.
struct Received {
    std::mutex lock;
    std::vector<Geometry> applied;
    std::vector<bool> masked;
    std::vector<std::string> said;

    GeometrySource::Hooks hooks()
    {
        GeometrySource::Hooks hooks;
        hooks.apply = [this](const Geometry& g, std::shared_ptr<const MaskPicture> mask) {
            std::lock_guard<std::mutex> guard(lock);
            applied.push_back(g);
            masked.push_back(mask != nullptr);
        };
        hooks.say = [this](const std::string& line) {
            std::lock_guard<std::mutex> guard(lock);
            said.push_back(line);
        };
        return hooks;
    }
    size_t count()
    {
        std::lock_guard<std::mutex> guard(lock);
        return applied.size();
    }
    bool saidSomething(const std::string& part)
    {
        std::lock_guard<std::mutex> guard(lock);
        for (const std::string& line : said)
            if (line.find(part) != std::string::npos)
                return true;
        return false;
    }
};

// As an editor saves: a new file renamed over the old one.
void replaceFile(const TempDir& dir, const std::string& text)
{
    dir.write("geometry.new", text);
    ASSERT_EQ(std::rename(dir.file("geometry.new").c_str(), dir.file("geometry.txt").c_str()), 0);
}

} // namespace

TEST(GeometrySourceTest, ChangesToGeometryTxtArriveWholeAndBadKeysKeepTheirValues)
{
    TempDir dir;
    dir.write("geometry.txt", "REGION=0.45,0,0.55,1\nBLEND_LEFT=0.1818\n");
    Geometry from_config;
    std::string refusal;
    from_config.applyLine("BLEND_GAMMA=2.4", &refusal);
    Received got;
    GeometrySource source(dir.file("geometry.txt"), from_config, got.hooks());
    source.start();
    ASSERT_EQ(got.count(), 1u);
    EXPECT_EQ(got.applied[0].region.x, 0.45);
    EXPECT_EQ(got.applied[0].blend.left, 0.1818);
    EXPECT_EQ(got.applied[0].blend.gamma, 2.4); // config.txt's, not in the file

    replaceFile(dir, "REGION=0.45,0,0.55,1\nBLEND_LEFT=0.9\nWARP=0,0 1,0.1 1,1 0,0.9\nMASK=door.png\n");
    ASSERT_TRUE(eventually([&] { return got.count() == 2; }, std::chrono::seconds(5)));
    EXPECT_EQ(got.applied[1].warp[1].y, 0.1);
    EXPECT_EQ(got.applied[1].blend.left, 0.1818);
    EXPECT_FALSE(got.masked[1]); // no door.png: unmasked, never dark
    EXPECT_TRUE(got.saidSomething("BLEND_LEFT="));
    EXPECT_TRUE(got.saidSomething("MASK=door.png"));
}

// geometry.txt as the server writes it reads back the same, and the write
// never goes through a link or into config.txt.
TEST(GeometrySourceTest, StoreWritesAtomicallyWhatReadsBackTheSame)
{
    TempDir dir;
    dir.write("victim.txt", "untouched");
    ASSERT_EQ(::symlink(dir.file("victim.txt").c_str(), dir.file("geometry.txt").c_str()), 0);
    Geometry wanted;
    std::string refusal;
    for (const char* line : {"REGION=0.1,0.2,0.3,0.4", "BLEND_LEFT=0.05", "BLEND_RIGHT=0.18181818", "BLEND_TOP=0.3",
                             "BLEND_BOTTOM=0.5", "BLEND_CURVE=1.5", "BLEND_GAMMA=2.6",
                             "WARP=0.01,0.02 0.97,0.03 0.99,0.98 0.015,0.96", "MASK=door.png", "TEST_PATTERN=1"})
        ASSERT_TRUE(wanted.applyLine(line, &refusal) && refusal.empty()) << line;
    Received got;
    GeometrySource writer(dir.file("geometry.txt"), Geometry(), got.hooks());
    std::string why;
    ASSERT_TRUE(writer.store(wanted, &why)) << why;
    EXPECT_EQ(readFile(dir.file("victim.txt")), "untouched");
    struct stat info {};
    ASSERT_EQ(::lstat(dir.file("geometry.txt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_NE(::access(dir.file("geometry.txt.part").c_str(), F_OK), 0);

    Received read_back;
    GeometrySource reader(dir.file("geometry.txt"), Geometry(), read_back.hooks());
    reader.start();
    ASSERT_EQ(read_back.count(), 1u);
    EXPECT_TRUE(read_back.applied[0] == wanted) << readFile(dir.file("geometry.txt"));
}

} // namespace Spectrafox::Test
