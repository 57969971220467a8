#include "canvas/canvas_content/content_local_file_texture/video/decoder_hand_over.h"

#include <algorithm>
#include <utility>

namespace Spectrafox {

DecoderHandOver::DecoderHandOver(int decoder_count, Clock clock_source)
    : decoders(decoder_count), clock(std::move(clock_source))
{
}

DecoderHandOver::Changes DecoderHandOver::update(const std::vector<int>& on_screen)
{
    const double now = clock();
    noteWhoLeft(on_screen, now);
    Changes changes;
    for (int number : on_screen) {
        Clip& clip = clips[number];
        clip.on_screen = true;
        if (clip.holds)
            continue;
        if (giveDecoder(number, &changes)) {
            clip.waiting = false;
        } else if (!clip.waiting) {
            clip.waiting = true;
            changes.waiting.push_back(number);
        }
    }
    return changes;
}

void DecoderHandOver::noteWhoLeft(const std::vector<int>& on_screen, double now)
{
    for (auto& [number, clip] : clips) {
        const bool shown = std::find(on_screen.begin(), on_screen.end(), number) != on_screen.end();
        if (clip.on_screen && !shown)
            clip.off_since = now;
        if (!shown)
            clip.waiting = false;
        clip.on_screen = false; // set again for those shown
    }
}

bool DecoderHandOver::giveDecoder(int number, Changes* changes)
{
    if (held >= decoders) {
        const int loser = longestOffScreenHolder();
        if (loser < 0)
            return false;
        clips[loser].holds = false;
        --held;
        changes->stopped.push_back(loser);
    }
    clips[number].holds = true;
    ++held;
    changes->started.push_back(number);
    return true;
}

int DecoderHandOver::longestOffScreenHolder() const
{
    int loser = -1;
    double earliest = 0.0;
    for (const auto& [number, clip] : clips) {
        if (!clip.holds || clip.on_screen)
            continue;
        if (loser < 0 || clip.off_since < earliest) {
            loser = number;
            earliest = clip.off_since;
        }
    }
    return loser;
}

bool DecoderHandOver::holds(int number) const
{
    const auto found = clips.find(number);
    return found != clips.end() && found->second.holds;
}

void DecoderHandOver::release(int number)
{
    const auto found = clips.find(number);
    if (found == clips.end() || !found->second.holds)
        return;
    found->second.holds = false;
    --held;
}

} // namespace Spectrafox
