#pragma once

#include <vector>

#include "status/status_board.h"

namespace Spectrafox {

// Reads the finished frame back, scaled down, for the status page's preview;
// runs on the render thread just before the swap. Only while a page watches,
// and then one new preview every kCycleFrames frames, its rows read in
// kBands interleaved passes on successive frames, so that no frame reads
// more than a few dozen rows.
class PreviewGrabber {
public:
    static constexpr int kWidth = 320;
    static constexpr int kCycleFrames = 30;
    static constexpr int kBands = 4;

    explicit PreviewGrabber(StatusBoard& board) : board(board) {}

    void beforeSwap(int screen_width, int screen_height);

private:
    void startPicture(int screen_width, int screen_height);
    void readBand(int band);

    StatusBoard& board;
    long frame = 0;
    long generation = 0;
    int band = -1; // the band due next; -1 between pictures
    int screen_width = 0;
    int screen_height = 0;
    PreviewPicture picture;
    std::vector<unsigned char> row;
};

} // namespace Spectrafox
