#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "base/show_clock.h"
#include "base/timecode.h"

namespace Spectrafox {

// The master's clock on the wire: a thread that, at the start of every frame
// of the show time, hands the timecode of that frame to `send` (the
// receiver's ArtTimeCode broadcast).
class TimecodeSender {
public:
    using Send = std::function<void(const Timecode&)>;

    TimecodeSender(const ShowClock& clock, Timecode::Type type, Send send);
    // Stops and joins the thread; no send runs after it returns.
    ~TimecodeSender();
    TimecodeSender(const TimecodeSender&) = delete;
    TimecodeSender& operator=(const TimecodeSender&) = delete;

    // Seconds from show time `now` to the start of the next frame at `rate`.
    static double secondsToNextFrame(double now, double rate);

private:
    void run();

    const ShowClock& clock;
    const Timecode::Type type;
    const Send send;
    std::mutex mutex;
    std::condition_variable stop_requested;
    bool stopping = false;
    std::thread thread;
};

} // namespace Spectrafox
