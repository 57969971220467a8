#include "canvas/canvas_content/content_local_file_texture/slots/slot_reloader.h"

#include <algorithm>

namespace Spectrafox {

SlotReloader::SlotReloader(std::vector<SlotPicture::Source> loaded_from, Loader loader, SourceFinder finder,
                           int ready_limit)
    : load(std::move(loader)), find_source(std::move(finder)),
      max_ready(static_cast<size_t>(std::max(1, ready_limit))), sources(std::move(loaded_from))
{
    worker = std::thread(&SlotReloader::workerLoop, this);
}

SlotReloader::~SlotReloader()
{
    std::deque<std::pair<int, SlotPicture>> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        pending.clear();
        dropped.swap(ready);
    }
    changed.notify_all();
    // Their memory given back, a load waiting for picture memory goes on.
    dropped.clear();
    worker.join();
}

void SlotReloader::reload(int slot)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (slot < 0 || static_cast<size_t>(slot) >= sources.size() || queued(slot))
            return;
        pending.push_back(slot);
    }
    changed.notify_all();
}

void SlotReloader::rescan()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        rescan_wanted = true;
    }
    changed.notify_all();
}

bool SlotReloader::takeReady(int* slot, SlotPicture* picture)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (ready.empty())
            return false;
        *slot = ready.front().first;
        *picture = std::move(ready.front().second);
        ready.pop_front();
    }
    changed.notify_all(); // room for the next one
    return true;
}

bool SlotReloader::queued(int slot) const
{
    return std::find(pending.begin(), pending.end(), slot) != pending.end();
}

void SlotReloader::workerLoop()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] {
            return stopping || rescan_wanted || (!pending.empty() && ready.size() < max_ready);
        });
        if (stopping)
            return;
        if (rescan_wanted) {
            rescanNow(lock);
            continue;
        }
        const int slot = pending.front();
        pending.pop_front();
        lock.unlock();
        SlotPicture picture = load(slot);
        lock.lock();
        if (stopping)
            return;
        sources[static_cast<size_t>(slot)] = picture.source;
        ready.emplace_back(slot, std::move(picture));
    }
}

// The files are looked at without the lock; a slot already waiting to be
// loaded is not asked for twice.
void SlotReloader::rescanNow(std::unique_lock<std::mutex>& lock)
{
    rescan_wanted = false;
    const size_t count = sources.size();
    lock.unlock();
    std::vector<SlotPicture::Source> now(count);
    for (size_t slot = 0; slot < count; ++slot)
        now[slot] = find_source(static_cast<int>(slot));
    lock.lock();
    for (size_t slot = 0; slot < count; ++slot)
        if (now[slot] != sources[slot] && !queued(static_cast<int>(slot)))
            pending.push_back(static_cast<int>(slot));
}

} // namespace Spectrafox
