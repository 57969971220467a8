#include "canvas/canvas_content/content_local_file_texture/slots/banded_upload.h"

#include <algorithm>
#include <utility>

namespace Spectrafox {

BandedUpload::BandedUpload(const unsigned char* pixels, int picture_width, int picture_height)
    : rgba(pixels), width(picture_width), height(picture_height)
{
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
}

BandedUpload::~BandedUpload()
{
    if (texture != 0)
        glDeleteTextures(1, &texture);
}

bool BandedUpload::fits(int picture_width, int picture_height)
{
    GLint max_size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
    return picture_width <= max_size && picture_height <= max_size;
}

bool BandedUpload::uploadWithin(std::uint64_t* budget)
{
    if (next_row >= height)
        return true;
    const std::uint64_t row_bytes = 4 * static_cast<std::uint64_t>(width);
    const int rows = static_cast<int>(
        std::clamp<std::uint64_t>(*budget / row_bytes, 1, static_cast<std::uint64_t>(height - next_row)));
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, next_row, width, rows, GL_RGBA, GL_UNSIGNED_BYTE,
                    rgba + static_cast<std::uint64_t>(next_row) * row_bytes);
    next_row += rows;
    *budget -= std::min(*budget, static_cast<std::uint64_t>(rows) * row_bytes);
    return next_row == height;
}

GLuint BandedUpload::take() { return std::exchange(texture, 0); }

} // namespace Spectrafox
