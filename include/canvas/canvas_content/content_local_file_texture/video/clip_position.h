#pragma once

#include <cstdint>

namespace Spectrafox {

// What a clip's decoder is asked to show. The clip plays along a path: from
// `origin` to the end of the clip, then (looping) from `in` to the end again
// and again, or (once) holding the last picture. `u` is how far along the
// path the clip is, in microseconds of clip time; it grows by `rate` per
// second of the steady clock. Positions are fractions of the clip's length
// (0-65535, as the desk sends them), so that they mean the same before the
// decoder knows the length.
struct PlaybackSteering {
    static constexpr int kWholeClip = 65536;

    // A new number starts the path afresh: the decoder finds its place anew
    // (a call, a scrub, a jump of the show time).
    uint64_t epoch = 0;
    int origin = 0;
    int in = 0;
    bool once = false;
    // Off screen with nobody to show it to: the decoder rests.
    bool parked = false;
    double u_us = 0.0;
    int64_t steady_ns = 0; // when the clip was at u_us
    double rate = 1.0;

    // How far along the path the clip is at that steady instant.
    double uAt(int64_t at_ns) const { return u_us + rate * static_cast<double>(at_ns - steady_ns) / 1000.0; }
    // The same path and pace: nothing the decoder has to act on.
    bool samePath(const PlaybackSteering& other) const;
};

// Where in its clip a video slot should be now: the one place that answers
// it, frame by frame on the render thread, from a time source (the show
// time, or the steady clock without one) and the desk's playback channels
// (14 mode, 18 speed, 19/20 position) of the canvas that shows the clip.
//
// Its answer is a PlaybackSteering for the slot's decoder.
class ClipPosition {
public:
    enum class Mode { Loop, Once, Pause, Scrub };
    struct Channels {
        int mode = 0;     // channel 14
        int speed = 0;    // channel 18
        int position = 0; // channels 19 and 20, 16 bit
    };
    // The time source and the steady clock together: a jump of the first
    // against the second (the show time moved) is seen as one.
    struct Now {
        double seconds = 0.0;
        int64_t steady_ns = 0;
        double day_seconds = 0.0; // the time source comes round to 0 after this; 0: never
    };
    // The time source may run apart from the steady clock by this much
    // between two readings before it counts as a jump.
    static constexpr double kLargestDrift = 0.5;

    static Mode modeOf(int mode_channel);
    static const char* nameOf(Mode mode);
    // 0: normal speed; 1-255: value / 128 times normal.
    static double speedOf(int speed_channel);

    // From the start of the clip, played since `start` of the time source
    // (0 under a show time: every node is at the same place).
    void startAt(double start, const Now& now);
    // Called onto a canvas: from the in-point (or, scrubbing, the position).
    void cue(const Channels& channels, const Now& now);
    // Once a frame while the clip is on screen.
    const PlaybackSteering& update(const Channels& channels, const Now& now);
    // Off screen: its decoder may rest until the next call.
    const PlaybackSteering& park();

    const PlaybackSteering& steering() const { return current; }
    Mode currentMode() const { return mode; }

private:
    double uAt(double seconds) const;
    void anchor(const Now& now, double rate);
    void newEpoch();
    void follow(const Channels& channels, const Now& now);
    void goOnPastMidnight(const Now& now);

    PlaybackSteering current;
    // u = anchor_u + (time source - anchor_seconds) x rate
    double anchor_u = 0.0;
    double anchor_seconds = 0.0;
    Now last{};
    bool has_last = false;
    // At the show time itself since start-up, not on a path of its own.
    bool follows_time_source = false;
    Mode mode = Mode::Loop;
    int scrubbed_to = -1;
};

} // namespace Spectrafox
