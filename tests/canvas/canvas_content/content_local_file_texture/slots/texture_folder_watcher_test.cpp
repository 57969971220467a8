// Files that change while the show runs: a playing clip copied over follows
// the new clip by itself; with the folder watched (WATCH_TEXTURES=1), a
// picture added, replaced or removed shows within 2 s of its copy being
// complete, never half-copied, and a video slot gives its decoder back.
#include "canvas/canvas_content/content_local_file_texture/slots/texture_folder_watcher.h"

#include <gtest/gtest.h>

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
    const int width = 2001, height = 1501; // several frames' upload, the last band shorter
    start(true);
    writeSolidPng(dir.file("textures/005.png"), 4, 4, 0x00FF00FF);
    ASSERT_TRUE(shows(5, kGreen, 2s)) << seen;
    std::vector<uint32_t> halves(static_cast<size_t>(width) * height, 0x0000FFFF);
    std::fill(halves.begin(), halves.begin() + width * (height / 2), 0xFF0000FFu);
    writePng(dir.file("halves.png"), width, height, halves);
    std::filesystem::rename(dir.file("halves.png"), dir.file("textures/005.png"));
    std::string order; // the colours down the middle column, each run once
    for (const auto deadline = std::chrono::steady_clock::now() + 10s;
         order != "RB" && std::chrono::steady_clock::now() < deadline;) {
        (void)shows(5, kBlack, 0ms); // one frame
        order.clear();
        for (int y = 0; y < gl->height(); ++y) {
            const Rgba p = gl->pixelAt(gl->width() / 2, y);
            const char colour = closeColour({p.r, p.g, p.b}, kRed)     ? 'R'
                                : closeColour({p.r, p.g, p.b}, kBlue)  ? 'B'
                                : closeColour({p.r, p.g, p.b}, kGreen) ? 'G' : 'K';
            if (order.empty() || order.back() != colour)
                order += colour;
        }
        ASSERT_TRUE(order == "G" || order == "RB") << "a frame showed " << order;
    }
    EXPECT_EQ(order, "RB");
}

// Events the kernel could not queue, or a folder replaced under the name:
// the watcher asks for a rescan, and the folder that stands under the name
// now is the one watched, never the old one.
TEST(FolderWatcher, LostEventsAndAReplacedFolderAskForARescanAndTheNewFolderIsWatched)
{
    namespace fs = std::filesystem;
    long queue_limit = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queue_limit;
    const std::vector<std::pair<const char*, std::function<void(const std::string&, TextureFolderWatcher&)>>> cases = {
        {"the kernel's queue overflowed", [&](const std::string& root, TextureFolderWatcher&) {
             for (long n = 0; n <= queue_limit; ++n) // two names in turn: the kernel merges no two
                 std::ofstream(root + (n % 2 ? "/textures/a" : "/textures/b")).close();
         }},
        {"renamed away, another renamed in", [](const std::string& root, TextureFolderWatcher&) {
             fs::rename(root + "/textures", root + "/old");
             fs::create_directory(root + "/new");
             fs::rename(root + "/new", root + "/textures");
         }},
        {"removed, a new one made later", [](const std::string& root, TextureFolderWatcher& watcher) {
             fs::remove_all(root + "/textures");
             EXPECT_FALSE(watcher.changes().rescan) << "no folder to rescan yet";
             fs::create_directory(root + "/textures");
         }},
    };
    ASSERT_GT(queue_limit, 0);
    for (const auto& [what, act] : cases) {
        SCOPED_TRACE(what);
        TempDir dir;
        fs::create_directory(dir.file("textures"));
        TextureFolderWatcher watcher(dir.file("textures"));
        act(dir.path(), watcher);
        EXPECT_TRUE(eventually([&] { return watcher.changes().rescan; }, 2s));
        if (fs::exists(dir.file("old")))
            writeSolidPng(dir.file("old/010.png"), 4, 4, 0xFF0000FF);
        writeSolidPng(dir.file("textures/009.png"), 4, 4, 0xFF0000FF);
        std::vector<int> slots;
        EXPECT_TRUE(eventually([&] { slots = watcher.changes().slots; return !slots.empty(); }, 2s));
        EXPECT_EQ(slots, std::vector<int>{9}) << "the folder now under the name is watched";
    }
}

} // namespace
