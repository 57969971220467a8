// Counts the heap allocations the render thread makes per frame. This
// executable replaces the global operator new and delete (with malloc and
// free, so that sanitizer runtimes see matching pairs) and counts only while
// the calling thread asks for it: worker, decoder and driver threads are not
// counted.

#include "canvas/canvas_manager.h"
#include "support/gif_writer.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <new>
#include <string>

namespace {

thread_local bool counting = false;
thread_local long allocations = 0;

void* allocate(std::size_t size)
{
    if (counting)
        ++allocations;
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

void* allocateNoThrow(std::size_t size) noexcept
{
    if (counting)
        ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}

} // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocateNoThrow(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return allocateNoThrow(size);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

long allocationsDuring(const std::function<void()>& work)
{
    allocations = 0;
    counting = true;
    work();
    counting = false;
    return allocations;
}

DisplayOptions headless()
{
    DisplayOptions options = DisplayOptions::headless(64, 36);
    options.offscreen_fps_cap = 0;
    return options;
}

// Slot 1 a still picture, slot 2 a two-frame animation, every other slot empty.
void writeTextures(const TempDir& dir)
{
    writeSolidPng(dir.file("textures/001.png"), 4, 2, 0xFF0000FF);
    const std::vector<GifColor> colours = {{255, 0, 0}, {0, 255, 0}};
    GifBuilder gif(2, 2, colours);
    gif.graphicControl(1).image(solidImage(2, 2, 0)).graphicControl(1).image(solidImage(2, 2, 1)).trailer();
    std::ofstream(dir.file("textures/002.gif"), std::ios::binary) << gif.bytes();
}

struct FrameCase {
    const char* name;
    const char* type;
    int canvases;
    std::function<void(Canvas&, int index)> set_up;
};

TEST(RenderAllocationsTest, FramesAfterTheFirstAllocateNothingOnTheRenderThread)
{
    TempDir dir;
    dir.write("textures/.keep", "");
    writeTextures(dir);
    ScopedChdir inside(dir.path());

    const FrameCase cases[] = {
        {"example content, fixed size", "CONTENT_EXAMPLE", 3, [](Canvas&, int) {}},
        {"example content, own proportions", "CONTENT_EXAMPLE", 2,
         [](Canvas& c, int) { c.setScalingY(-1.0f); }},
        {"picture slots (still, animation, empty), own proportions", "CONTENT_TEXTURE_256", 3,
         [](Canvas& c, int i) {
             c.setContentData(i + 1);
             c.setScalingX(0.2f);
             c.setScalingY(-1.0f);
         }},
        {"rings of copies in both ring modes", "CONTENT_TEXTURE_256", 2,
         [](Canvas& c, int i) {
             c.setContentData(2);
             c.setNumber(i == 0 ? 8 : 63);
             c.setZoom(0.3f);
             c.setSpeedAll(3.0f);
         }},
        {"strobing shutter", "CONTENT_TEXTURE_256", 2,
         [](Canvas& c, int) {
             c.setContentData(1);
             c.setShutterSpeed(2);
         }},
        {"a content type no plug-in has", "NO_SUCH_CONTENT", 2,
         [](Canvas& c, int) { c.setScalingY(-1.0f); }},
        {"the longest type name in use, many canvases", "CONTENT_TEXTURE_256", 25,
         [](Canvas& c, int i) {
             c.setContentData(i % 4);
             c.setRotation(float(i) * 10.0f);
             c.setSpeed(1.0f);
         }},
    };
    constexpr int kWarmUpFrames = 3;
    constexpr int kCountedFrames = 50;
    for (const FrameCase& c : cases) {
        CanvasManager manager(headless());
        manager.setZoom(c.canvases % 2 == 0 ? 2 : 1);
        manager.generateCanvasGroup(c.canvases, c.type);
        int index = 0;
        for (Canvas* canvas : manager.getAllCanvases())
            c.set_up(*canvas, index++);
        for (int frame = 0; frame < kWarmUpFrames; ++frame)
            manager.renderFrame();
        const long counted = allocationsDuring([&] {
            for (int frame = 0; frame < kCountedFrames; ++frame)
                manager.renderFrame();
        });
        std::printf("%s: %.2f allocations per frame\n", c.name,
                    double(counted) / kCountedFrames);
        EXPECT_EQ(counted, 0) << c.name;
    }
}

// The counter itself: a copied long string allocates, a short one does not.
TEST(RenderAllocationsTest, CounterSeesStringCopies)
{
    const std::string long_name = "CONTENT_TEXTURE_256";
    const std::string short_name = "CONTENT_EXAMPLE";
    std::string copy;
    EXPECT_EQ(allocationsDuring([&] { copy = std::string(long_name); }), 1);
    EXPECT_EQ(allocationsDuring([&] { std::string other(short_name); }), 0);
}

} // namespace
