// Files that change while the show runs: a playing clip copied over follows
// the new clip by itself; with the folder watched (WATCH_TEXTURES=1), a
// picture added, replaced or removed shows within 2 s of its copy being
// complete, never half-copied, and a video slot gives its decoder back.
#include "canvas/canvas_content/content_local_file_texture/slots/texture_folder_watcher.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "canvas/canvas.h"
#include "canvas/canvas_content/content_local_file_texture/content_local_file_texture.h"
#include "support/eventually.h"
#include "support/gl_fixture.h"
#include "support/h264_clip.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kBlack{0, 0, 0}, kFaintRed{63, 0, 0};

class ChangingFolder : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(dir.file("textures")); }
    void start(bool watch)
    {
        in_dir = std::make_unique<ScopedChdir>(dir.path());
        gl = std::make_unique<HeadlessRenderer>(160, 90);
        slots = dynamic_cast<ContentLocalFileTexture*>(gl->renderer().findContent("CONTENT_TEXTURE_256"));
        if (watch)
            watcher = std::make_unique<TextureFolderWatcher>();
    }
    void TearDown() override
    {
        watcher.reset();
        gl.reset();
        in_dir.reset();
    }

    // Frames as the program makes them (changed slots reloaded, then drawn)
    // until the middle of the screen shows `colour`.
    bool shows(int content, Rgb colour, std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        do {
            for (const int slot : watcher ? watcher->changes().slots : std::vector<int>{})
                slots->reloadSlot(slot);
            Canvas canvas("CONTENT_TEXTURE_256");
            canvas.setContentData(content);
            gl->renderer().drawCanvases({&canvas});
            const Rgba p = gl->pixelAt(80, 45); // below a video's white band
            seen = std::to_string(p.r) + "," + std::to_string(p.g) + "," + std::to_string(p.b);
            if (closeColour({p.r, p.g, p.b}, colour))
                return true;
            std::this_thread::sleep_for(10ms);
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

    TempDir dir;
    std::unique_ptr<ScopedChdir> in_dir;
    std::unique_ptr<HeadlessRenderer> gl;
    ContentLocalFileTexture* slots = nullptr;
    std::unique_ptr<TextureFolderWatcher> watcher;
    std::string seen;
};

// Like cp over an existing file: the same inode, truncated, then written.
void copyOver(const std::string& from, const std::string& to)
{
    std::ofstream(to, std::ios::binary | std::ios::trunc) << readFile(from);
}

bool writeClip(const std::string& path, Rgb c)
{
    const std::vector<ClipSegment> clip = {
        {static_cast<uint8_t>(c.r), static_cast<uint8_t>(c.g), static_cast<uint8_t>(c.b), 25}};
    if (path.substr(path.size() - 4) == ".mp4")
        return makeClip(path, 64, 48, 25, clip, "-c:v libx264 -pix_fmt yuv420p -f mp4");
    return makeH264Clip(path, 64, 48, 25, clip);
}

// Without any watching: the file-reading side reopens the file at the loop.
TEST_F(ChangingFolder, APlayingClipCopiedOverOrEmptiedShowsTheNextClip)
{
    for (const std::string suffix : {".h264", ".mp4"}) {
        SCOPED_TRACE(suffix);
        const std::string playing = dir.file("textures/020" + suffix), next = dir.file("next" + suffix);
        ASSERT_TRUE(writeClip(playing, kRed) && writeClip(next, kBlue));
        start(false);
        ASSERT_TRUE(shows(20, kRed, 10s)) << seen;
        copyOver(next, playing);
        EXPECT_TRUE(shows(20, kBlue, 10s)) << "the clip froze or never followed: " << seen;
        // Emptied, then written again a while later.
        std::ofstream(playing, std::ios::trunc).close();
        ASSERT_TRUE(writeClip(next, kGreen));
        std::this_thread::sleep_for(1500ms);
        copyOver(next, playing);
        EXPECT_TRUE(shows(20, kGreen, 10s)) << "no picture after the file was emptied: " << seen;
        TearDown();
        std::remove(playing.c_str());
    }
}

TEST_F(ChangingFolder, WatchedPicturesFollowTheFolderOnlyOnceTheCopyIsComplete)
{
    start(true);
    writeSolidPng(dir.file("textures/007.png"), 4, 4, 0xFF0000FF);
    EXPECT_TRUE(shows(7, kRed, 2s)) << "added: " << seen;

    // Replaced in place: half the new file, still open, changes nothing.
    writeSolidPng(dir.file("green.png"), 4, 4, 0x00FF00FF);
    const std::string green = readFile(dir.file("green.png"));
    {
        std::ofstream copy(dir.file("textures/007.png"), std::ios::binary | std::ios::trunc);
        copy << green.substr(0, green.size() / 2) << std::flush;
        (void)shows(7, kGreen, 300ms); // frames go by meanwhile
        EXPECT_TRUE(shows(7, kRed, 0ms)) << "half-copied: " << seen;
        copy << green.substr(green.size() / 2);
    }
    EXPECT_TRUE(shows(7, kGreen, 2s)) << "replaced in place: " << seen;

    // Replaced by a rename, as rsync leaves it; then removed.
    writeSolidPng(dir.file("blue.png"), 4, 4, 0x0000FFFF);
    ASSERT_EQ(std::rename(dir.file("blue.png").c_str(), dir.file("textures/007.png").c_str()), 0);
    EXPECT_TRUE(shows(7, kBlue, 2s)) << "renamed over: " << seen;
    ASSERT_EQ(std::remove(dir.file("textures/007.png").c_str()), 0);
    EXPECT_TRUE(shows(7, kBlack, 2s)) << "removed: " << seen;
}

TEST_F(ChangingFolder, AWatchedVideoRemovedGivesItsDecoderToTheNextVideo)
{
    const std::string clip = dir.file("clip.h264");
    ASSERT_TRUE(writeClip(clip, kBlue));
    for (const char* name : {"textures/030.h264", "textures/031.h264", "textures/032.h264"})
        copyOver(clip, dir.file(name));
    start(true);
    ASSERT_TRUE(shows(30, kBlue, 10s)) << seen;
    copyOver(clip, dir.file("textures/033.h264"));
    EXPECT_TRUE(shows(33, kFaintRed, 2s)) << "a fourth video: no decoder is free; " << seen;

    ASSERT_EQ(std::remove(dir.file("textures/030.h264").c_str()), 0);
    EXPECT_TRUE(shows(30, kBlack, 2s)) << seen;
    copyOver(clip, dir.file("textures/033.h264"));
    EXPECT_TRUE(shows(33, kBlue, 10s)) << "the decoder given back was not taken: " << seen;
}

// A picture too large to upload within one frame goes up in bands over
// several: until it is whole the old picture shows, never a part of the new
// one, and then every band is in its place (red above blue).
TEST_F(ChangingFolder, AReloadedPictureShowsOnlyWholeWithItsBandsInPlace)
{
    struct Case {
        const char* what;
        int width, height;
    };
    const Case cases[] = {
        {"within one frame's upload", 400, 300},
        {"over several frames, the last band shorter", 2001, 1501},
    };
    start(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeSolidPng(dir.file("textures/005.png"), 4, 4, 0x00FF00FF);
        ASSERT_TRUE(shows(5, kGreen, 2s)) << seen;
        std::vector<uint32_t> halves(static_cast<size_t>(c.width) * c.height, 0x0000FFFF);
        std::fill(halves.begin(), halves.begin() + static_cast<long>(c.width) * (c.height / 2), 0xFF0000FFu);
        writePng(dir.file("halves.png"), c.width, c.height, halves);
        ASSERT_EQ(std::rename(dir.file("halves.png").c_str(), dir.file("textures/005.png").c_str()), 0);

        std::string order; // the colours down the middle column, each run once
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (order != "RB" && std::chrono::steady_clock::now() < deadline) {
            for (const int slot : watcher->changes().slots)
                slots->reloadSlot(slot);
            Canvas canvas("CONTENT_TEXTURE_256");
            canvas.setContentData(5);
            gl->renderer().drawCanvases({&canvas});
            const std::vector<Rgba> frame = gl->frame();
            order.clear();
            for (int y = 0; y < gl->height(); ++y) {
                const Rgba& p = frame[static_cast<size_t>(y) * gl->width() + gl->width() / 2];
                const char colour = closeColour({p.r, p.g, p.b}, kRed) ? 'R' : closeColour({p.r, p.g, p.b}, kBlue) ? 'B'
                                    : closeColour({p.r, p.g, p.b}, kGreen) ? 'G' : 'K';
                if ((order.empty() || order.back() != colour))
                    order += colour;
            }
            ASSERT_TRUE(order == "G" || order == "RB") << "a frame showed " << order;
        }
        EXPECT_EQ(order, "RB");
    }
}

// Events the kernel could not queue, or a folder replaced under the name:
// the watcher asks for a rescan, and what is written into the folder that
// stands under the name now is reported, never what goes into the old one.
long queueLimit()
{
    std::ifstream limit("/proc/sys/fs/inotify/max_queued_events");
    long events = 0;
    return limit >> events ? events : 0;
}

// Completed writes of names no slot takes, two in turn so that the kernel
// cannot merge them.
void closedWrites(const std::string& folder, long count)
{
    for (long n = 0; n < count; ++n) {
        const int fd = ::open((folder + (n % 2 ? "/a.tmp" : "/b.tmp")).c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
}

TEST(FolderWatcher, LostEventsAndAReplacedFolderAskForARescanAndTheNewFolderIsWatched)
{
    using Act = std::function<void(const std::string& root, TextureFolderWatcher& watcher)>;
    namespace fs = std::filesystem;
    struct Case {
        const char* what;
        Act act;
        std::vector<int> slots;
        bool rescan;
        bool overflows = false;
    };
    const long limit = queueLimit();
    const std::vector<Case> cases = {
        {"a copy completed", [](const std::string& root, TextureFolderWatcher&) {
             writeSolidPng(root + "/textures/007.png", 4, 4, 0xFF0000FF);
         }, {7}, false},
        {"the kernel's queue overflowed", [limit](const std::string& root, TextureFolderWatcher&) {
             writeSolidPng(root + "/textures/007.png", 4, 4, 0xFF0000FF);
             closedWrites(root + "/textures", limit + 8);
         }, {7}, true, true},
        {"renamed away, another renamed in", [](const std::string& root, TextureFolderWatcher&) {
             fs::rename(root + "/textures", root + "/old");
             writeSolidPng(root + "/new/008.png", 4, 4, 0xFF0000FF);
             fs::rename(root + "/new", root + "/textures");
         }, {}, true},
        {"removed and made again", [](const std::string& root, TextureFolderWatcher&) {
             fs::remove_all(root + "/textures");
             fs::create_directory(root + "/textures");
         }, {}, true},
        {"renamed away, a new one made later", [](const std::string& root, TextureFolderWatcher& watcher) {
             fs::rename(root + "/textures", root + "/old");
             EXPECT_FALSE(watcher.changes().rescan) << "no folder to rescan yet";
             fs::create_directory(root + "/textures");
         }, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.overflows && (limit <= 0 || limit > (1 << 20))) {
            std::cout << "skipped: the event queue holds " << limit << " events\n";
            continue;
        }
        TempDir dir;
        fs::create_directory(dir.file("textures"));
        TextureFolderWatcher watcher(dir.file("textures"));
        ASSERT_TRUE(watcher.ok()) << watcher.error();
        TextureFolderWatcher::Changes seen;
        auto collect = [&] {
            TextureFolderWatcher::Changes more = watcher.changes();
            seen.rescan = seen.rescan || more.rescan;
            for (const int slot : more.slots)
                if (std::find(seen.slots.begin(), seen.slots.end(), slot) == seen.slots.end())
                    seen.slots.push_back(slot);
        };
        c.act(dir.path(), watcher);
        EXPECT_TRUE(eventually([&] { collect(); return seen.rescan == c.rescan && seen.slots == c.slots; },
                               std::chrono::seconds(2)))
            << "rescan " << seen.rescan << ", " << seen.slots.size() << " slots";

        seen = {};
        if (fs::exists(dir.file("old")))
            writeSolidPng(dir.file("old/010.png"), 4, 4, 0xFF0000FF);
        writeSolidPng(dir.file("textures/009.png"), 4, 4, 0xFF0000FF);
        EXPECT_TRUE(eventually([&] { collect(); return !seen.slots.empty(); }, std::chrono::seconds(2)));
        EXPECT_EQ(seen.slots, std::vector<int>{9}) << "the folder now under the name is watched";
        EXPECT_FALSE(seen.rescan);
    }
}

} // namespace
