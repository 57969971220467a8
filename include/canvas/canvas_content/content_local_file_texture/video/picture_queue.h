#pragma once

#include "canvas/canvas_content/content_local_file_texture/video/clip_position.h"
#include "platform/media/clip_decoder.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace Spectrafox {

// Between a clip's decode thread and the render thread, under one lock: what
// the screen wants (the steering) and the pictures decoded ahead for it,
// each with its place along the path. A picture is due once the path has
// reached it; the render thread takes the newest due picture, and pictures
// passed over (late, or of an earlier path) are dropped by either side, so
// the decoder never waits for pictures that will not be shown.
class PictureQueue {
public:
    struct Picture {
        uint64_t epoch = 0;
        double u_us = 0.0;
        DecodedPicture frame;
    };
    // Pictures decoded ahead of the screen, at most.
    static constexpr size_t kMostAhead = 3;
    // How long the decoder waits at most before it looks again.
    static constexpr std::chrono::milliseconds kLongestWait{100};

    static int64_t steadyNowNs();

    // Render thread.
    void steer(const PlaybackSteering& steering);
    // The newest picture of the steering's path due at `at_ns`, taken out;
    // null when none is.
    DecodedPicture takeDue(int64_t at_ns, uint64_t* epoch = nullptr);

    // Decode thread. Waits until there is room for a picture, the path
    // changed from `epoch`, or stop(); returns the steering then. A parked
    // clip waits until it is steered again.
    PlaybackSteering waitForRoom(uint64_t epoch);
    // Waits until the steering differs from `known` in its path, or stop().
    PlaybackSteering waitForChange(const PlaybackSteering& known);
    void push(Picture picture);
    PlaybackSteering steering() const;

    // Ends every wait, now and later.
    void stop();
    bool stopped() const;
    size_t size() const;

private:
    void dropPassed(int64_t at_ns);

    mutable std::mutex mutex;
    std::condition_variable wake;
    PlaybackSteering wanted;
    std::deque<Picture> ready;
    bool stopping = false;
};

} // namespace Spectrafox
