// Start-up with a full folder: 256 PNG pictures of 1920x1080. Times the
// server's start to its first drawn frame (display, decoding on worker
// threads, uploads) against a plain serial stb_image decode of the same files
// in the same run. Target: at most 0.6 of the serial decode.
//
// Usage: texture_startup_bench [folder]   (default /tmp/spectrafox-bench-photos;
// the pictures are made there on the first run and reused afterwards)
#include "canvas/canvas_manager.h"
#include "platform/graphics/display_options.h"

#include "platform/fixed_function/gl_fixed_function.h"
#include <stb_image.h>
#include <stb_image_write.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace Spectrafox;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSlots = 256;
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
    for (int slot = 0; slot < kSlots; ++slot) {
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
            std::printf("  made %d of %d pictures\n", slot + 1, kSlots);
    }
}

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double serialDecode(const std::string& folder)
{
    const auto start = Clock::now();
    for (int slot = 0; slot < kSlots; ++slot) {
        int w = 0, h = 0, n = 0;
        stbi_image_free(stbi_load(pictureName(folder, slot).c_str(), &w, &h, &n, 4));
    }
    return seconds(start);
}

double startToFirstFrame(const std::string& folder)
{
    if (chdir(folder.c_str()) != 0)
        return -1.0;
    DisplayOptions options = DisplayOptions::headless(kWidth, kHeight);
    options.offscreen_fps_cap = 0;
    const auto start = Clock::now();
    CanvasManager manager(options);
    manager.generateCanvasGroup(1, "CONTENT_TEXTURE_256");
    manager.renderFrame();
    Spectrafox::glFinish();
    const double elapsed = seconds(start);
    return elapsed;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : "/tmp/spectrafox-bench-photos";
    std::printf("pictures in %s\n", folder.c_str());
    makePictures(folder);
    serialDecode(folder); // warm the page cache so both runs read from memory
    const double serial = serialDecode(folder);
    const double startup = startToFirstFrame(folder);
    std::printf("serial stb_image decode of %d pictures: %.2f s\n", kSlots, serial);
    std::printf("server start to first frame:          %.2f s\n", startup);
    std::printf("ratio start-up / serial decode: %.2f (target <= 0.60)\n", startup / serial);
    return 0;
}
