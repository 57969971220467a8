#include "status/preview_grabber.h"

#include <GLES2/gl2.h>

#include <algorithm>
#include <utility>

namespace Spectrafox {

void PreviewGrabber::beforeSwap(int width, int height)
{
    ++frame;
    if (band < 0) {
        if (frame % kCycleFrames != 0 || width <= 0 || height <= 0 || !board.previewWanted())
            return;
        startPicture(width, height);
    }
    readBand(band);
    if (++band < kBands)
        return;
    band = -1;
    picture.generation = ++generation;
    board.publishPreview(std::move(picture));
    picture = PreviewPicture{};
}

void PreviewGrabber::startPicture(int width, int height)
{
    screen_width = width;
    screen_height = height;
    picture.width = std::min(kWidth, width);
    picture.height = std::max(1, static_cast<int>(static_cast<long long>(height) * picture.width / width));
    picture.rgb.assign(static_cast<size_t>(picture.width) * picture.height * 3, 0);
    row.resize(static_cast<size_t>(width) * 4);
    band = 0;
}

// Output rows band, band + kBands, ...: one screen row each, point-sampled.
void PreviewGrabber::readBand(int which)
{
    for (int y = which; y < picture.height; y += kBands) {
        // GL's first row is the bottom of the screen.
        const int screen_y = screen_height - 1 - static_cast<int>(static_cast<long long>(y) * screen_height / picture.height);
        glReadPixels(0, screen_y, screen_width, 1, GL_RGBA, GL_UNSIGNED_BYTE, row.data());
        unsigned char* out = &picture.rgb[static_cast<size_t>(y) * picture.width * 3];
        for (int x = 0; x < picture.width; ++x, out += 3) {
            const size_t from = static_cast<size_t>(static_cast<long long>(x) * screen_width / picture.width) * 4;
            std::copy_n(&row[from], 3, out);
        }
    }
}

} // namespace Spectrafox
