#include "canvas/canvas_content/content_local_file_texture/video/video_cue_director.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "canvas/canvas_content/content_local_file_texture/texture.h"

namespace Spectrafox {

VideoCueDirector::VideoCueDirector(Texture* const* texture_slots, int count, int decoders,
                                   Notice notice_sink, DecoderHandOver::Clock clock)
    : slots(texture_slots), slot_count(count), hand_over(decoders, std::move(clock)),
      notice(std::move(notice_sink))
{
}

bool VideoCueDirector::shownBefore(int slot) const
{
    return std::find(shown_before.begin(), shown_before.end(), slot) != shown_before.end();
}

void VideoCueDirector::note(int slot, const ContentInterface::CanvasCue& cue)
{
    if (!cue.drawn || slot < 0 || slot >= slot_count)
        return;
    if (std::find(shown.begin(), shown.end(), slot) != shown.end())
        return; // a lower canvas shows it already and decides
    shown.push_back(slot);
    const ClipPosition::Channels channels{cue.play_mode, cue.play_speed, cue.play_position};
    slots[slot]->setPlayback(channels);
    if (!shownBefore(slot))
        slots[slot]->cue(channels);
}

void VideoCueDirector::frameDone()
{
    giveBackFailedDecoders();
    std::vector<int> videos;
    for (int slot : shown)
        if (slots[slot]->getTextureType() == SlotKind::Video)
            videos.push_back(slot);
    const DecoderHandOver::Changes changes = hand_over.update(videos);
    for (int slot : changes.stopped)
        slots[slot]->stopVideo();
    parkHoldersOffScreen();
    for (int slot : changes.started)
        if (!slots[slot]->startVideo())
            hand_over.release(slot);
    if (notice) {
        for (int slot : changes.waiting) {
            char line[64];
            std::snprintf(line, sizeof line, "Clip %03d waits for a video decoder", slot);
            notice(line);
        }
    }
    shown_before = std::move(shown);
    shown.clear();
}

// A clip off screen keeps its decoder for a while, but decodes nothing: it
// starts again from its in-point when it is called back.
void VideoCueDirector::parkHoldersOffScreen()
{
    for (int slot : shown_before)
        if (std::find(shown.begin(), shown.end(), slot) == shown.end())
            slots[slot]->park();
}

// A stream that gave no picture has ended and shows its error texel.
void VideoCueDirector::giveBackFailedDecoders()
{
    for (int slot = 0; slot < slot_count; ++slot)
        if (hand_over.holds(slot) && !slots[slot]->playsVideo())
            hand_over.release(slot);
}

} // namespace Spectrafox
