// Start-up with a full folder: 256 PNG pictures of 1920x1080. Times the
// server's start to its first drawn frame the way the program starts
// (display, the canvas group with its file texture plug-in and the real
// slots: decoding on worker threads, textures made and uploaded on the
// render thread, the picture memory budget), without and with the status
// page (which has thumbnails made), against a plain serial stb_image decode
// of the same files in the same run. Target: at most 0.6 of the serial decode.
//
// Usage: texture_startup_bench [folder [pictures]]   (default
// /tmp/spectrafox-bench-photos and 256; the pictures are made there on the
// first run and reused afterwards; with fewer, the others are removed)
#include "base/regular_file.h"
#include "canvas/canvas_manager.h"
#include "canvas/canvas_content/content_options.h"
#include "canvas/canvas_content/content_local_file_texture/slots/png_decoder.h"
#include "platform/graphics/display_options.h"

#include "platform/fixed_function/gl_fixed_function.h"
#include <stb_image.h>
#include <stb_image_write.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace Spectrafox;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kAllSlots = 256;
int slots = kAllSlots;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

std::string pictureName(const std::string& folder, int slot)
{
    char name[32];
    std::snprintf(name, sizeof name, "/textures/%03d.png", slot);
    return folder + name;
}

// Smooth gradients with a per-file twist and a little grain in the low bits,
// so that the files are about as large as photographs (2-3 MB each).
void makePictures(const std::string& folder)
{
    uint32_t grain = 12345;
    std::filesystem::create_directories(folder + "/textures");
    std::vector<unsigned char> pixels(static_cast<size_t>(kWidth) * kHeight * 4);
    for (int slot = 0; slot < slots; ++slot) {
        const std::string name = pictureName(folder, slot);
        if (std::filesystem::exists(name))
            continue;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                unsigned char* p = &pixels[(static_cast<size_t>(y) * kWidth + x) * 4];
                grain = grain * 1664525u + 1013904223u;
                p[0] = static_cast<unsigned char>((x / 8 + slot) ^ (grain >> 29));
                p[1] = static_cast<unsigned char>((y / 4 + slot * 3) ^ (grain >> 26 & 7));
                p[2] = static_cast<unsigned char>(((x * y + slot * 7919) >> 6 & 0x3F) ^ (grain >> 23 & 7));
                p[3] = 255;
            }
        stbi_write_png(name.c_str(), kWidth, kHeight, 4, pixels.data(), kWidth * 4);
        if (slot % 32 == 31)
            std::printf("  made %d of %d pictures\n", slot + 1, slots);
    }
}

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// CPU seconds of every thread of the process so far.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Wall and CPU seconds of one run.
struct Timing {
    double wall = 1e9;
    double cpu = 1e9;

    template <class Run>
    void keepBest(Run run)
    {
        const double cpu_before = cpuSeconds();
        const auto start = Clock::now();
        run();
        if (seconds(start) < wall) {
            wall = seconds(start);
            cpu = cpuSeconds() - cpu_before;
        }
    }
};

void serialDecode(const std::string& folder)
{
    for (int slot = 0; slot < slots; ++slot) {
        int w = 0, h = 0, n = 0;
        stbi_image_free(stbi_load(pictureName(folder, slot).c_str(), &w, &h, &n, 4));
    }
}

// The same files through the decoder the server uses (stb_image's PNG code
// behind the header's memory bound), read the way the server reads them.
void serialBoundedDecode(const std::string& folder)
{
    for (int slot = 0; slot < slots; ++slot) {
        std::vector<unsigned char> file;
        RegularFile::readAll(pictureName(folder, slot), size_t{1} << 30, &file);
        int w = 0, h = 0;
        std::free(PngDecoder::decode(file, &w, &h));
    }
}

// As main builds them from a config.txt with only HTTP_PORT= set or not.
ContentOptions contentAsTheProgram(bool status_page)
{
    ContentOptions content;
    content.thumbnails = status_page;
    content.notice = [](const std::string& line) { std::printf("  notice: %s\n", line.c_str()); };
    return content;
}

void startToFirstFrame(bool status_page)
{
    DisplayOptions options = DisplayOptions::headless(kWidth, kHeight);
    options.offscreen_fps_cap = 0;
    CanvasManager manager(options, contentAsTheProgram(status_page));
    manager.generateCanvasGroup(1, "CONTENT_TEXTURE_256");
    manager.renderFrame();
    Spectrafox::glFinish();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder =
        std::filesystem::absolute(argc > 1 ? argv[1] : "/tmp/spectrafox-bench-photos").string();
    if (argc > 2)
        slots = std::clamp(std::atoi(argv[2]), 1, kAllSlots);
    std::printf("%d pictures in %s\n", slots, folder.c_str());
    makePictures(folder);
    // Slots beyond the count stay empty, as in a folder of fewer files.
    for (int slot = slots; slot < kAllSlots; ++slot)
        std::filesystem::remove(pictureName(folder, slot));
    if (chdir(folder.c_str()) != 0)
        return 1;
    // Each the best of two rounds, taken in turn: the first start of the
    // process pays for things only done once, and a shared machine is noisy.
    Timing serial, bounded, startup, with_page;
    for (int round = 0; round < 2; ++round) {
        serial.keepBest([&] { serialDecode(folder); });
        bounded.keepBest([&] { serialBoundedDecode(folder); });
        startup.keepBest([] { startToFirstFrame(false); });
        with_page.keepBest([] { startToFirstFrame(true); });
    }
    std::printf("serial stb_image decode of %d pictures: %5.2f s (%5.2f CPU-s)\n", slots, serial.wall, serial.cpu);
    std::printf("  the same with the server's decoder:  %5.2f s (%5.2f CPU-s)\n", bounded.wall, bounded.cpu);
    std::printf("server start to first frame:           %5.2f s (%5.2f CPU-s)\n", startup.wall, startup.cpu);
    std::printf("  the same with the status page:       %5.2f s (%5.2f CPU-s)\n", with_page.wall, with_page.cpu);
    std::printf("ratio start-up / serial decode: %.2f (target <= 0.60), CPU %.2f\n", startup.wall / serial.wall,
                startup.cpu / serial.cpu);
    std::printf("ratio with the status page:     %.2f (target <= 0.60), CPU %.2f\n", with_page.wall / serial.wall,
                with_page.cpu / serial.cpu);
    return 0;
}
