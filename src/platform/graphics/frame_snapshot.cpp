#include "platform/graphics/frame_snapshot.h"

#include "base/regular_file.h"

#include <GLES2/gl2.h>
#include <stb_image_write.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace Spectrafox {

namespace {

constexpr const char kTemporarySuffix[] = ".part";

// A stop that cannot wait for the program to wind down ends the process
// where it stands. Files are created, written and renamed under this lock,
// and once the stop has closed it none is begun: a snapshot is whole or
// absent, never a temporary file left behind.
std::mutex file_lock;
bool files_closed = false; // under file_lock
// Longer than writing out an encoded picture takes, short beside the stop.
constexpr std::chrono::milliseconds kLongestFileWrite{250};

void appendToBuffer(void* context, void* data, int size)
{
    auto* buffer = static_cast<std::vector<unsigned char>*>(context);
    const auto* bytes = static_cast<const unsigned char*>(data);
    buffer->insert(buffer->end(), bytes, bytes + size);
}

// Through a new temporary file in the same folder, renamed into place.
bool writeFileInPlace(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::lock_guard<std::mutex> lock(file_lock);
    if (files_closed)
        return false;
    // mkostemps creates the file itself (O_CREAT | O_EXCL): a name that
    // exists, a link included, is never opened.
    std::string name = path + ".XXXXXX" + kTemporarySuffix;
    const int fd = ::mkostemps(name.data(), static_cast<int>(sizeof kTemporarySuffix - 1), O_CLOEXEC);
    if (fd < 0)
        return false;
    ::fchmod(fd, 0644);
    const bool written = RegularFile::writeAll(fd, bytes.data(), bytes.size());
    const bool closed = ::close(fd) == 0;
    // rename replaces a link at the path rather than write through it.
    if (!written || !closed || std::rename(name.c_str(), path.c_str()) != 0) {
        ::unlink(name.c_str());
        return false;
    }
    return true;
}

} // namespace

bool FrameSnapshot::writePng(const std::string& path, int width, int height)
{
    return writeRgbPng(path, width, height, readRgb(width, height));
}

std::vector<unsigned char> FrameSnapshot::readRgb(int width, int height)
{
    const size_t read_row_bytes = static_cast<size_t>(width) * 4;
    std::vector<unsigned char> pixels(read_row_bytes * static_cast<size_t>(height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    // The display ignores the framebuffer's alpha, so the file does too: an
    // RGB picture, as the projector shows it. GL's first row is the bottom
    // of the screen; PNG's first row is the top.
    const size_t row_bytes = static_cast<size_t>(width) * 3;
    std::vector<unsigned char> rgb(row_bytes * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const unsigned char* from = &pixels[read_row_bytes * static_cast<size_t>(height - 1 - y)];
        unsigned char* to = &rgb[row_bytes * static_cast<size_t>(y)];
        for (int x = 0; x < width; ++x, from += 4, to += 3)
            std::memcpy(to, from, 3);
    }
    return rgb;
}

bool FrameSnapshot::writeRgbPng(const std::string& path, int width, int height,
                                const std::vector<unsigned char>& rgb)
{
    // Encoded before any file exists: compressing a large picture takes
    // seconds, and a stop meanwhile has nothing to leave behind.
    std::vector<unsigned char> png;
    const int row_bytes = width * 3;
    if (stbi_write_png_to_func(&appendToBuffer, &png, width, height, 3, rgb.data(), row_bytes) == 0)
        return false;
    return writeFileInPlace(path, png);
}

// Polled rather than a timed lock, which ThreadSanitizer cannot follow.
void FrameSnapshot::closeFiles()
{
    const auto give_up = std::chrono::steady_clock::now() + kLongestFileWrite;
    while (!file_lock.try_lock()) {
        if (std::chrono::steady_clock::now() > give_up)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    files_closed = true;
    file_lock.unlock();
}

std::string FrameSnapshot::numberedPath(const std::string& path, long frame)
{
    char number[32];
    std::snprintf(number, sizeof number, "-%06ld", frame);
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    if (!has_extension)
        return path + number;
    return path.substr(0, dot) + number + path.substr(dot);
}

} // namespace Spectrafox
