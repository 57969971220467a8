#include "network/artnet/timecode_sender.h"

#include <chrono>
#include <cmath>
#include <utility>

namespace Spectrafox {

namespace {
// Wakes this much into the frame, so that rounding never names the frame before.
constexpr double kWakeMarginSeconds = 0.0002;
} // namespace

TimecodeSender::TimecodeSender(const ShowClock& clock_, Timecode::Type type_, Send send_)
    : clock(clock_), type(type_), send(std::move(send_)), thread(&TimecodeSender::run, this)
{
}

TimecodeSender::~TimecodeSender()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    stop_requested.notify_all();
    thread.join();
}

double TimecodeSender::secondsToNextFrame(double now, double rate)
{
    const double next = std::floor(now * rate + 1e-6) + 1.0;
    return next / rate - now;
}

void TimecodeSender::run()
{
    const double rate = Timecode::frameRate(type);
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        const double wait = secondsToNextFrame(clock.showSeconds(), rate) + kWakeMarginSeconds;
        if (stop_requested.wait_for(lock, std::chrono::duration<double>(wait), [this] { return stopping; }))
            break;
        send(Timecode::fromSeconds(clock.showSeconds(), type));
    }
}

} // namespace Spectrafox
