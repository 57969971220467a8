#pragma once

#include <functional>
#include <string>
#include <vector>

#include "canvas/canvas_content/content_interface.h"
#include "canvas/canvas_content/content_local_file_texture/video/decoder_hand_over.h"

namespace Spectrafox {

class Texture;

// With VIDEO_ON_CUE=1: follows which slots the drawn canvases show, frame by
// frame. A slot called onto the screen starts at its in-point and follows
// the playback channels of the lowest canvas that shows it; video slots get
// their decoders by the hand-over policy, and a holder that leaves the
// screen rests; a clip left without one is named once through `notice`.
// Render thread only.
class VideoCueDirector {
public:
    using Notice = std::function<void(const std::string&)>;

    VideoCueDirector(Texture* const* slots, int slot_count, int decoders, Notice notice,
                     DecoderHandOver::Clock clock);

    // A canvas shows `slot` in this frame (called before the slot is bound).
    void note(int slot, const ContentInterface::CanvasCue& cue);
    // Every canvas of the frame has been noted.
    void frameDone();

private:
    bool shownBefore(int slot) const;
    void giveBackFailedDecoders();
    void parkHoldersOffScreen();

    Texture* const* slots;
    const int slot_count;
    DecoderHandOver hand_over;
    Notice notice;
    std::vector<int> shown;        // this frame, in canvas order
    std::vector<int> shown_before; // the frame before
};

} // namespace Spectrafox
