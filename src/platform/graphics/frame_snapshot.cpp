#include "platform/graphics/frame_snapshot.h"

#include <GLES2/gl2.h>
#include <stb_image_write.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace Spectrafox {

bool FrameSnapshot::writePng(const std::string& path, int width, int height)
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

    const std::string temporary = path + ".part";
    if (!stbi_write_png(temporary.c_str(), width, height, 3, rgb.data(),
                        static_cast<int>(row_bytes))) {
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
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
