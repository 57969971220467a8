#include "canvas/canvas_content/content_local_file_texture/slots/slot_prefetcher.h"

#include <algorithm>
#include <utility>

namespace Spectrafox {

SlotPrefetcher::SlotPrefetcher(int count, Decoder decode, int worker_count, int ahead)
    : slot_count(count), decoder(std::move(decode)), max_ahead(std::max(1, ahead))
{
    for (int i = 0; i < worker_count; ++i)
        workers.emplace_back(&SlotPrefetcher::workerLoop, this);
}

SlotPrefetcher::~SlotPrefetcher()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    for (std::thread& worker : workers)
        worker.join();
}

int SlotPrefetcher::defaultWorkerCount()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 4u));
}

bool SlotPrefetcher::mayClaim() const
{
    return next_unclaimed < slot_count && next_unclaimed < next_to_take + max_ahead;
}

void SlotPrefetcher::workerLoop()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return stopping || mayClaim() || next_unclaimed >= slot_count; });
        if (stopping || next_unclaimed >= slot_count)
            return;
        const int slot = next_unclaimed++;
        lock.unlock();
        SlotPicture picture = decoder(slot);
        lock.lock();
        ready.emplace(slot, std::move(picture));
        changed.notify_all();
    }
}

SlotPicture SlotPrefetcher::take(int slot)
{
    std::unique_lock<std::mutex> lock(mutex);
    next_to_take = slot;
    changed.notify_all(); // the window moved on
    if (next_unclaimed <= slot) {
        // Nobody is on it (no workers, or all busy with earlier slots): decode
        // here rather than wait. Skipped slots are not expected.
        next_unclaimed = slot + 1;
        lock.unlock();
        return decoder(slot);
    }
    changed.wait(lock, [&] { return ready.count(slot) > 0; });
    SlotPicture picture = std::move(ready.at(slot));
    ready.erase(slot);
    next_to_take = slot + 1;
    changed.notify_all();
    return picture;
}

} // namespace Spectrafox
