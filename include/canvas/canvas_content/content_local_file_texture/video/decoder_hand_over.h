#pragma once

#include <functional>
#include <map>
#include <vector>

namespace Spectrafox {

// Who of the video clips on screen holds one of a fixed number of decoders.
// A clip shown by a drawn canvas gets a free decoder; with none free it takes
// over the decoder of the clip that has been off screen longest; when every
// holder is on screen it waits (frozen on its first picture) and tries again
// every frame. A clip keeps its decoder while off screen until another takes
// it over, so one that comes back soon finds it still open.
// Pure bookkeeping: no decoder is touched here, the caller acts on the changes.
class DecoderHandOver {
public:
    // Seconds on a clock that never jumps.
    using Clock = std::function<double()>;

    struct Changes {
        std::vector<int> started; // given a decoder now
        std::vector<int> stopped; // lost theirs (to a clip in `started`)
        std::vector<int> waiting; // began waiting for a decoder now
    };

    DecoderHandOver(int decoders, Clock clock);

    // Once per frame with the clips drawn canvases show, in canvas order (the
    // first has the first claim). Repeats are allowed.
    Changes update(const std::vector<int>& on_screen);
    bool holds(int clip) const;
    // The clip's decoder is free again (its stream failed, or it was stopped).
    void release(int clip);

private:
    struct Clip {
        bool holds = false;
        bool on_screen = false;
        bool waiting = false;
        double off_since = 0.0;
    };

    void noteWhoLeft(const std::vector<int>& on_screen, double now);
    bool giveDecoder(int clip, Changes* changes);
    int longestOffScreenHolder() const;

    const int decoders;
    const Clock clock;
    int held = 0;
    std::map<int, Clip> clips;
};

} // namespace Spectrafox
