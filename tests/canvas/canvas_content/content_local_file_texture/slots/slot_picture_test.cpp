#include "canvas/canvas_content/content_local_file_texture/slots/slot_picture.h"

#include <gtest/gtest.h>

#include "support/h264_clip.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"
#include "support/tmux_session.h"

#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <vector>

using Spectrafox::SlotPicture;
using Spectrafox::Test::runCommand;
using Spectrafox::Test::TempDir;

namespace {

void makePicture(const TempDir& dir, const std::string& name, const std::string& size)
{
    int status = -1;
    runCommand("cd '" + dir.path() + "' && convert -size " + size + " xc:red '" + name + "'", &status);
    ASSERT_EQ(status, 0) << name;
}

TEST(SlotPictureTest, NamesAreThreeDigitsUnderTheDirectory)
{
    EXPECT_EQ(SlotPicture::baseName(0, "./textures/"), "./textures/000");
    EXPECT_EQ(SlotPicture::baseName(7, "./textures/"), "./textures/007");
    EXPECT_EQ(SlotPicture::baseName(42, "./textures/"), "./textures/042");
    EXPECT_EQ(SlotPicture::baseName(255, "./textures/"), "./textures/255");
}

TEST(SlotPictureTest, FindsFilesInPrecedenceOrderAndDecodesThem)
{
    TempDir dir;
    const std::string textures = dir.path() + "/";
    makePicture(dir, "007.png", "4x2");
    makePicture(dir, "007.gif", "8x8");
    makePicture(dir, "7.png", "4x4");
    makePicture(dir, "008.gif", "3x5");
    dir.write("009.h264", "not a video");
    dir.write("010.png", "not a picture");
    dir.write("011.gif", "GIF89a but cut off");
    makePicture(dir, "BMP:013.png", "4x4"); // stb decodes BMP, but not under a PNG's name

    const struct {
        int slot;
        SlotPicture::Kind kind;
        int width, height;
        bool decoded;
    } cases[] = {
        {7, SlotPicture::Kind::Png, 4, 2, true},     // .png wins over .gif
        {8, SlotPicture::Kind::Gif, 3, 5, true},
        {9, SlotPicture::Kind::Video, 0, 0, false},  // the probe finds no video
        {10, SlotPicture::Kind::Png, 0, 0, false},
        {11, SlotPicture::Kind::Gif, 0, 0, false},
        {12, SlotPicture::Kind::Missing, 0, 0, false},
        {13, SlotPicture::Kind::Png, 0, 0, false},
        {70, SlotPicture::Kind::Missing, 0, 0, false}, // "7.png" is never slot 7's file
    };
    for (const auto& c : cases) {
        SlotPicture picture = SlotPicture::load(c.slot, textures);
        EXPECT_EQ(picture.kind, c.kind) << c.slot;
        EXPECT_EQ(picture.width, c.width) << c.slot;
        EXPECT_EQ(picture.height, c.height) << c.slot;
        const bool decoded = picture.pixels || picture.gif_frames || picture.size_known;
        EXPECT_EQ(decoded, c.decoded) << c.slot;
    }
}

// Only regular files are pictures: anything else under a picture's name
// counts as no file (the next kind is looked for), and nothing blocks.
TEST(SlotPictureTest, OnlyRegularFilesCountAndNothingBlocks)
{
    TempDir dir;
    const std::string textures = dir.path() + "/";
    ASSERT_EQ(mkfifo(dir.file("001.png").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.file("002.gif").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.file("003.h264").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.file("004.mp4").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(dir.file("005.png").c_str(), 0700), 0);
    ASSERT_EQ(symlink("006.png", dir.file("006.png").c_str()), 0); // a loop
    ASSERT_EQ(symlink("nowhere.png", dir.file("007.png").c_str()), 0);
    makePicture(dir, "real.png", "3x2");
    ASSERT_EQ(symlink("real.png", dir.file("008.png").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("009.png").c_str(), 0600), 0);
    makePicture(dir, "009.gif", "5x4"); // found behind the FIFO

    const struct {
        int slot;
        SlotPicture::Kind kind;
        int width;
    } cases[] = {
        {1, SlotPicture::Kind::Missing, 0}, {2, SlotPicture::Kind::Missing, 0},
        {3, SlotPicture::Kind::Missing, 0}, {4, SlotPicture::Kind::Missing, 0},
        {5, SlotPicture::Kind::Missing, 0}, {6, SlotPicture::Kind::Missing, 0},
        {7, SlotPicture::Kind::Missing, 0}, {8, SlotPicture::Kind::Png, 3},
        {9, SlotPicture::Kind::Gif, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.slot);
        const auto start = std::chrono::steady_clock::now();
        SlotPicture picture = SlotPicture::load(c.slot, textures);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_EQ(picture.kind, c.kind);
        EXPECT_EQ(picture.width, c.width);
    }
}

// Containers come after .h264 and tell their size themselves; one whose
// video is not H.264 is known but cannot be played.
TEST(SlotPictureTest, ContainersComeAfterRawStreamsAndTellTheirSize)
{
    TempDir dir;
    const std::string textures = dir.path() + "/";
    const std::vector<Spectrafox::Test::ClipSegment> red = {{255, 0, 0, 5}};
    using Spectrafox::Test::makeClip;
    ASSERT_TRUE(makeClip(dir.file("020.mp4"), 64, 48, 25, red, "-c:v libx264 -pix_fmt yuv420p -f mp4"));
    ASSERT_TRUE(makeClip(dir.file("021.mov"), 80, 48, 25, red, "-c:v libx264 -pix_fmt yuv420p -f mov"));
    ASSERT_TRUE(makeClip(dir.file("022.mkv"), 96, 48, 25, red, "-c:v libx264 -pix_fmt yuv420p -f matroska"));
    ASSERT_TRUE(makeClip(dir.file("023.mp4"), 64, 32, 25, red, "-c:v mpeg4 -f mp4"));
    dir.write("024.mkv", "not a container");
    ASSERT_TRUE(makeClip(dir.file("025.h264"), 32, 32, 25, red, "-c:v libx264 -pix_fmt yuv420p -f h264"));
    ASSERT_TRUE(makeClip(dir.file("025.mp4"), 64, 64, 25, red, "-c:v libx264 -pix_fmt yuv420p -f mp4"));

    const struct {
        int slot;
        const char* suffix;
        int width, height;
        bool size_known, decodable;
    } cases[] = {
        {20, ".mp4", 64, 48, true, true},  {21, ".mov", 80, 48, true, true},
        {22, ".mkv", 96, 48, true, true},  {23, ".mp4", 64, 32, true, false},
        {24, ".mkv", 0, 0, false, true},   {25, ".h264", 32, 32, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.slot);
        SlotPicture picture = SlotPicture::load(c.slot, textures);
        EXPECT_EQ(picture.kind, SlotPicture::Kind::Video);
        EXPECT_EQ(picture.file_name, SlotPicture::baseName(c.slot, textures) + c.suffix);
        EXPECT_EQ(picture.width, c.width);
        EXPECT_EQ(picture.height, c.height);
        EXPECT_EQ(picture.size_known, c.size_known);
        EXPECT_EQ(picture.decodable, c.decodable);
    }
}

// A video larger than a texture may be is refused before anything of it is
// decoded; a first picture (on cue) is granted picture memory like a PNG.
TEST(SlotPictureTest, VideosAreRefusedForTheirSizeOrTheirFirstPicturesMemory)
{
    TempDir dir;
    using Spectrafox::PictureMemoryBudget;
    const std::string x264 = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -f mp4";
    const uint64_t planes = PictureMemoryBudget::yuvTextureBytes(320, 240);
    const struct {
        int width, height;
        uint64_t memory;
        bool too_large, over_budget;
    } cases[] = {{4112, 64, 1u << 30, true, false}, {64, 4096, 1u << 30, false, false},
                 {320, 240, 2 * planes, false, true}, {320, 240, 4 * planes, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        ASSERT_TRUE(Spectrafox::Test::makeClip(dir.file("040.mp4"), c.width, c.height, 25, {{255, 0, 0, 2}}, x264));
        PictureMemoryBudget budget(c.memory);
        const SlotPicture picture = SlotPicture::load(
            40, dir.path() + "/",
            [&](uint64_t peak, uint64_t kept, PictureMemoryBudget::Reservation* out) { return budget.admit(peak, kept, out); },
            true, 4096);
        EXPECT_EQ(picture.too_large, c.too_large);
        EXPECT_EQ(picture.over_budget, c.over_budget);
        EXPECT_EQ(picture.first_picture != nullptr, !c.too_large && !c.over_budget);
        EXPECT_GE(budget.inUse(), picture.first_picture ? planes : 0) << "held in the picture memory";
    }
}

// Runs `load` in a child: whether it answered true (the lowest bit), and by
// how many MiB the child's resident memory rose meanwhile (at most 127).
int inChildDecodedAndPeakMib(const std::function<bool()>& load)
{
    int status = -1;
    if (const pid_t child = fork())
        return waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    malloc_trim(0); // memory freed earlier would hide a rise
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from here
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const bool decoded = load();
    getrusage(RUSAGE_SELF, &after);
    _exit(static_cast<int>(std::min(127L, (after.ru_maxrss - before.ru_maxrss) >> 10) << 1 | decoded));
}

// A PNG gives the pixels stb_image gives, unless its data inflates past the
// size its header declares: then none, and before taking much more memory
// than the declared picture and the file. Interlaced files inflate to more
// than their pixels, and must still decode.
TEST(SlotPictureTest, PngsDecodeAsStbImageDoesUnlessTheirDataInflatesPastTheHeader)
{
    TempDir dir;
    const struct {
        const char* name;
        const char* size;
        const char* options;
        int declared_width, declared_height; // 0: as written
        bool decoded;
    } cases[] = {
        {"RGBA, interlaced", "37x23", "-interlace PNG PNG32:", 0, 0, true},
        {"palette, interlaced", "37x23", "-interlace PNG PNG8:", 0, 0, true},
        {"RGB of 16 bits, interlaced", "37x23", "-interlace PNG PNG48:", 0, 0, true},
        {"grey of 1 bit", "37x23", "-colorspace Gray -threshold 50% -depth 1 PNG:", 0, 0, true},
        {"one row past its header", "300x201", "PNG32:", 300, 200, false},
        {"16 MiB past a 1 x 1 header", "2048x2048", "PNG32:", 1, 1, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        const std::string file = dir.file("10" + std::to_string(i) + ".png");
        runCommand(std::string("convert -size ") + c.size + " gradient:red-blue " + c.options + "'" + file + "'");
        if (c.declared_width > 0)
            Spectrafox::Test::declarePngSize(file, c.declared_width, c.declared_height);
        const Spectrafox::Test::RgbaImage reference = Spectrafox::Test::readRgbaPng(file);
        const int result = inChildDecodedAndPeakMib([&] {
            SlotPicture picture = SlotPicture::load(100 + static_cast<int>(i), dir.path() + "/");
            return picture.pixels && picture.width == reference.width && picture.height == reference.height &&
                   std::equal(reference.rgba.begin(), reference.rgba.end(), picture.pixels);
        });
        EXPECT_EQ(result & 1, c.decoded);
        EXPECT_LE(result >> 1, 8) << "MiB more at the peak";
    }
}

TEST(SlotPictureTest, MovingHandsOverTheBuffers)
{
    TempDir dir;
    makePicture(dir, "001.png", "2x2");
    SlotPicture first = SlotPicture::load(1, dir.path() + "/");
    ASSERT_NE(first.pixels, nullptr);
    SlotPicture second = std::move(first);
    EXPECT_EQ(first.pixels, nullptr);
    EXPECT_NE(second.pixels, nullptr);
    EXPECT_EQ(second.pixels[0], 255); // red
}

// A GIF picture's frames go with the picture; every way of letting go of
// one frees them exactly once (AddressSanitizer reports leaks and double frees).
TEST(SlotPictureTest, GifFramesFollowThePictureAcrossHandOvers)
{
    TempDir dir;
    makePicture(dir, "001.png", "2x2");
    makePicture(dir, "002.gif", "3x5");
    makePicture(dir, "003.gif", "4x4");
    const std::string textures = dir.path() + "/";
    const struct {
        const char* name;
        std::function<SlotPicture()> make;
        Spectrafox::SlotKind kind;
        int width, frames;
        bool pixels;
    } cases[] = {
        {"moved into a new picture", [&] {
             SlotPicture first = SlotPicture::load(2, textures);
             SlotPicture second(std::move(first));
             EXPECT_FALSE(first.gif_frames);
             EXPECT_EQ(first.pixels, nullptr);
             return second;
         }, Spectrafox::SlotKind::Gif, 3, 1, false},
        {"a GIF replaced by another", [&] {
             SlotPicture held = SlotPicture::load(2, textures);
             held = SlotPicture::load(3, textures);
             return held;
         }, Spectrafox::SlotKind::Gif, 4, 1, false},
        {"a GIF replaced by a PNG", [&] {
             SlotPicture held = SlotPicture::load(3, textures);
             held = SlotPicture::load(1, textures);
             return held;
         }, Spectrafox::SlotKind::Png, 2, 0, true},
        {"a PNG replaced by a GIF", [&] {
             SlotPicture held = SlotPicture::load(1, textures);
             held = SlotPicture::load(2, textures);
             return held;
         }, Spectrafox::SlotKind::Gif, 3, 1, false},
        {"released early", [&] {
             SlotPicture held = SlotPicture::load(3, textures);
             held.release();
             held.release();
             return held;
         }, Spectrafox::SlotKind::Gif, 4, 0, false},
        {"never taken from a container", [&] {
             std::vector<SlotPicture> waiting;
             waiting.push_back(SlotPicture::load(2, textures));
             waiting.push_back(SlotPicture::load(3, textures));
             SlotPicture taken = std::move(waiting.back());
             return taken; // waiting[0] and the emptied waiting[1] go here
         }, Spectrafox::SlotKind::Gif, 4, 1, false},
    };
    for (const auto& c : cases) {
        SlotPicture picture = c.make();
        EXPECT_EQ(picture.kind, c.kind) << c.name;
        EXPECT_EQ(picture.width, c.width) << c.name;
        EXPECT_EQ(picture.gif_frames.count(), c.frames) << c.name;
        EXPECT_EQ(picture.pixels != nullptr, c.pixels) << c.name;
        for (int k = 0; k < picture.gif_frames.count(); ++k)
            EXPECT_EQ(picture.gif_frames.frame(k)[0], 255) << c.name << ": red";
    }
}

} // namespace
