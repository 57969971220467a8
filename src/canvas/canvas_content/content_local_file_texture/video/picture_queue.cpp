#include "canvas/canvas_content/content_local_file_texture/video/picture_queue.h"

#include <algorithm>

namespace Spectrafox {

namespace {
// A picture due within this much is due: readings of the clock differ by it.
constexpr double kDueSlackUs = 500.0;
} // namespace

int64_t PictureQueue::steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void PictureQueue::steer(const PlaybackSteering& steering)
{
    std::lock_guard<std::mutex> lock(mutex);
    const bool changed = !wanted.samePath(steering);
    wanted = steering;
    if (changed)
        wake.notify_all();
}

// Pictures of an earlier path, and every picture with a due one after it.
void PictureQueue::dropPassed(int64_t at_ns)
{
    while (!ready.empty() && ready.front().epoch != wanted.epoch)
        ready.pop_front();
    const double u = wanted.uAt(at_ns) + kDueSlackUs;
    while (ready.size() > 1 && ready[1].epoch == wanted.epoch && ready[1].u_us <= u)
        ready.pop_front();
}

DecodedPicture PictureQueue::takeDue(int64_t at_ns, uint64_t* epoch)
{
    std::lock_guard<std::mutex> lock(mutex);
    dropPassed(at_ns);
    if (ready.empty() || ready.front().u_us > wanted.uAt(at_ns) + kDueSlackUs)
        return nullptr;
    DecodedPicture due = std::move(ready.front().frame);
    if (epoch != nullptr)
        *epoch = ready.front().epoch;
    ready.pop_front();
    wake.notify_all();
    return due;
}

PlaybackSteering PictureQueue::waitForRoom(uint64_t epoch)
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        if (stopping || (!wanted.parked && wanted.epoch != epoch))
            return wanted;
        if (!wanted.parked) {
            const int64_t now = steadyNowNs();
            dropPassed(now);
            if (ready.size() < kMostAhead)
                return wanted;
            // Room comes when the second picture falls due, or sooner when
            // the screen takes one.
            if (wanted.rate > 0.0) {
                const double wait_us = (ready[1].u_us - wanted.uAt(now)) / wanted.rate;
                const auto until = std::chrono::microseconds(static_cast<int64_t>(std::max(wait_us, 0.0)) + 1);
                wake.wait_for(lock, std::min<std::chrono::microseconds>(until, kLongestWait));
                continue;
            }
        }
        wake.wait_for(lock, kLongestWait);
    }
}

PlaybackSteering PictureQueue::waitForChange(const PlaybackSteering& known)
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping && wanted.samePath(known))
        wake.wait_for(lock, kLongestWait);
    return wanted;
}

void PictureQueue::push(Picture picture)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (picture.epoch != wanted.epoch)
        return; // the screen has moved on meanwhile
    ready.push_back(std::move(picture));
    dropPassed(steadyNowNs());
}

PlaybackSteering PictureQueue::steering() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return wanted;
}

void PictureQueue::stop()
{
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    ready.clear();
    wake.notify_all();
}

bool PictureQueue::stopped() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return stopping;
}

size_t PictureQueue::size() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return ready.size();
}

} // namespace Spectrafox
