#include "platform/graphics/frame_snapshot.h"

#include <GLES2/gl2.h>
#include <stb_image_write.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace Spectrafox {

bool FrameSnapshot::writePng(const std::string& path, int width, int height)
{
    const size_t row_bytes = static_cast<size_t>(width) * 4;
    std::vector<unsigned char> pixels(row_bytes * static_cast<size_t>(height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    // GL's first row is the bottom of the screen; PNG's first row is the top.
    std::vector<unsigned char> flipped(pixels.size());
    for (int y = 0; y < height; ++y)
        std::memcpy(&flipped[row_bytes * y], &pixels[row_bytes * (height - 1 - y)], row_bytes);

    const std::string temporary = path + ".part";
    if (!stbi_write_png(temporary.c_str(), width, height, 4, flipped.data(),
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
