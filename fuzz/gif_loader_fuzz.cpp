// libFuzzer entry for GIFLoader::loadAnimatedGif. The loader reads a named
// file, so every input is written to an in-memory file of this process and
// handed over as /proc/self/fd/N.
#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

int inputFile()
{
    static const int fd = memfd_create("gif_fuzz_input", 0);
    if (fd < 0) {
        perror("memfd_create");
        abort();
    }
    return fd;
}

void writeInput(int fd, const uint8_t* data, size_t size)
{
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        perror("writing the fuzz input");
        abort();
    }
}

// A success must hand out what it promises; ASan checks each frame's extent.
void checkAndFree(unsigned char** frames, int width, int height, const Spectrafox::GifAnimationInfo& info)
{
    if (width <= 0 || height <= 0 || info.numberOfImages < 1 || !info.delayArray)
        abort();
    const size_t frameBytes = 4 * static_cast<size_t>(width) * height;
    unsigned sum = 0;
    for (int i = 0; i < info.numberOfImages; ++i) {
        if (info.delayArray[i] < 0)
            abort();
        sum += frames[i][0] + frames[i][frameBytes - 1];
        free(frames[i]);
    }
    free(frames);
    free(info.delayArray);
    if (sum == 0xFFFFFFFFu) // keeps the reads from being optimised away
        puts("");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = inputFile();
    writeInput(fd, data, size);
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

    Spectrafox::GIFLoader loader;
    int width = 0, height = 0;
    Spectrafox::GifAnimationInfo info{};
    unsigned char** frames = loader.loadAnimatedGif(path, &width, &height, &info);
    if (frames)
        checkAndFree(frames, width, height, info);
    return 0;
}
