#include "canvas/canvas_content/content_local_file_texture/slots/gif_frames.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <utility>
#include <vector>

#include "support/gif_writer.h"
#include "support/temp_dir.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

// What the loader hands out: a C list of C frames, each filled with its
// number, and C delays. Whatever is not adopted leaks (AddressSanitizer
// reports it); whatever is freed twice crashes there.
struct LoaderResult {
    unsigned char** frames = nullptr;
    GifAnimationInfo info{};
};

LoaderResult loaderResult(const std::vector<int>& delays, int frame_bytes = 16)
{
    LoaderResult result;
    const int count = static_cast<int>(delays.size());
    result.frames = static_cast<unsigned char**>(std::malloc(sizeof(unsigned char*) * (count + 1)));
    for (int k = 0; k < count; ++k) {
        result.frames[k] = static_cast<unsigned char*>(std::malloc(frame_bytes));
        std::memset(result.frames[k], k + 1, frame_bytes);
    }
    result.info.numberOfImages = count;
    result.info.delayArray = static_cast<int*>(std::malloc(sizeof(int) * (count + 1)));
    for (int k = 0; k < count; ++k)
        result.info.delayArray[k] = delays[k];
    return result;
}

GifFrames adopted(const std::vector<int>& delays)
{
    const LoaderResult result = loaderResult(delays);
    return GifFrames::adopt(result.frames, result.info);
}

struct HandOverCase {
    const char* name;
    std::function<GifFrames()> make; // what ends up held
    std::vector<int> delays;         // its delays; empty: it holds nothing
};

TEST(GifFramesTest, HandOversLeaveOneOwnerAndEmptyGivers)
{
    const HandOverCase cases[] = {
        {"adopted", [] { return adopted({10, 20, 30}); }, {10, 20, 30}},
        {"a rejected file: no list, no delays", [] { return GifFrames::adopt(nullptr, {}); }, {}},
        {"a rejected file with delays written", [] {
             LoaderResult result = loaderResult({5});
             for (int k = 0; k < result.info.numberOfImages; ++k)
                 std::free(result.frames[k]);
             std::free(result.frames);
             return GifFrames::adopt(nullptr, result.info);
         }, {}},
        {"a list of no frames", [] { return adopted({}); }, {}},
        {"frames without delays", [] {
             LoaderResult result = loaderResult({7, 8});
             std::free(result.info.delayArray);
             result.info.delayArray = nullptr;
             return GifFrames::adopt(result.frames, result.info);
         }, {0, 0}},
        {"moved into a new owner", [] {
             GifFrames first = adopted({1, 2});
             GifFrames second(std::move(first));
             EXPECT_FALSE(first);
             EXPECT_EQ(first.count(), 0);
             EXPECT_TRUE(first.delays().empty());
             return second;
         }, {1, 2}},
        {"moved over an owner of other frames", [] {
             GifFrames held = adopted({4, 4, 4, 4});
             GifFrames incoming = adopted({9});
             held = std::move(incoming);
             EXPECT_FALSE(incoming);
             return held;
         }, {9}},
        {"emptied by moving an empty one over it", [] {
             GifFrames held = adopted({3, 3});
             held = GifFrames();
             return held;
         }, {}},
        {"moved onto itself", [] {
             GifFrames held = adopted({6, 12});
             GifFrames& same = held;
             held = std::move(same);
             return held;
         }, {6, 12}},
        {"handed on twice, through a container", [] {
             std::vector<GifFrames> waiting;
             waiting.push_back(adopted({2, 2, 2}));
             waiting.push_back(adopted({8}));
             GifFrames taken = std::move(waiting[0]);
             waiting.clear(); // the one never taken is freed here
             return taken;
         }, {2, 2, 2}},
    };
    for (const HandOverCase& c : cases) {
        GifFrames frames = c.make();
        EXPECT_EQ(static_cast<bool>(frames), !c.delays.empty()) << c.name;
        ASSERT_EQ(frames.count(), static_cast<int>(c.delays.size())) << c.name;
        EXPECT_EQ(frames.delays(), c.delays) << c.name;
        for (int k = 0; k < frames.count(); ++k) {
            ASSERT_NE(frames.frame(k), nullptr) << c.name;
            EXPECT_EQ(frames.frame(k)[0], k + 1) << c.name << " frame " << k;
        }
    }
}

TEST(GifFramesTest, ReleasingAFrameFreesThatFrameOnly)
{
    GifFrames frames = adopted({10, 10, 10});
    const struct {
        int release;
        std::vector<bool> present;
    } steps[] = {{1, {true, false, true}}, {1, {true, false, true}}, {0, {false, false, true}},
                 {2, {false, false, false}}};
    for (const auto& step : steps) {
        frames.releaseFrame(step.release);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(frames.frame(k) != nullptr, step.present[k]) << "after " << step.release;
        EXPECT_EQ(frames.count(), 3); // the timing stays
        EXPECT_EQ(frames.delays(), (std::vector<int>{10, 10, 10}));
    }
}

TEST(GifFramesTest, LoadsFilesAndLeavesTheSizeAloneOnRejection)
{
    TempDir dir;
    const GifImage red = solidImage(2, 2, 0);
    const GifImage green = solidImage(2, 2, 1);
    const std::vector<GifColor> colours = {{255, 0, 0}, {0, 255, 0}};
    const struct {
        const char* name;
        std::string bytes;
        int frames, width;
        std::vector<int> delays;
    } cases[] = {
        {"two frames", GifBuilder(2, 2, colours).graphicControl(10).image(red)
                           .graphicControl(25).image(green).trailer().bytes(), 2, 2, {10, 25}},
        {"one still frame", GifBuilder(2, 2, colours).image(red).trailer().bytes(), 1, 2, {0}},
        {"no trailer", GifBuilder(2, 2, colours).image(red).bytes(), 0, -1, {}},
        {"not a GIF", "GIF89a, but then nothing", 0, -1, {}},
    };
    for (const auto& c : cases) {
        const std::string file = dir.write(std::string(c.name) + ".gif", c.bytes);
        int width = -1;
        int height = -1;
        GifFrames frames = GifFrames::load(file, &width, &height);
        EXPECT_EQ(frames.count(), c.frames) << c.name;
        EXPECT_EQ(width, c.width) << c.name;
        EXPECT_EQ(frames.delays(), c.delays) << c.name;
        if (frames) {
            EXPECT_EQ(frames.frame(0)[0], 255) << c.name << ": red, top left";
            EXPECT_EQ(frames.frame(0)[3], 255) << c.name << ": opaque";
        }
    }
}

} // namespace
