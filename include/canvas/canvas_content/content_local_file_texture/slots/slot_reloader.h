#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/slots/slot_picture.h"

namespace Spectrafox {

// Loads slots anew while the show runs, on a worker thread of its own, so
// that the render thread only uploads what is ready: it asks for slots whose
// files changed and takes each picture once it is decoded. Remembers which
// file each slot was loaded from, so that a rescan (after events were lost)
// loads only the slots whose files differ. At most `max_ready` decoded
// pictures wait to be taken, which bounds the memory a burst of large files
// takes. Slots are loaded in the order asked, each waiting slot once.
class SlotReloader {
public:
    using Loader = std::function<SlotPicture(int slot)>;
    using SourceFinder = std::function<SlotPicture::Source(int slot)>;

    // `sources`: the file each slot shows was loaded from (at start-up).
    SlotReloader(std::vector<SlotPicture::Source> sources, Loader load, SourceFinder find_source,
                 int max_ready);
    ~SlotReloader();
    SlotReloader(const SlotReloader&) = delete;
    SlotReloader& operator=(const SlotReloader&) = delete;

    void reload(int slot);
    void rescan();
    // The next picture ready, with its slot; false when none is. Never waits.
    bool takeReady(int* slot, SlotPicture* picture);

private:
    void workerLoop();
    void rescanNow(std::unique_lock<std::mutex>& lock);
    bool queued(int slot) const;

    const Loader load;
    const SourceFinder find_source;
    const size_t max_ready;
    std::mutex mutex; // guards everything below
    std::condition_variable changed;
    bool stopping = false;
    bool rescan_wanted = false;
    std::deque<int> pending;
    std::deque<std::pair<int, SlotPicture>> ready;
    std::vector<SlotPicture::Source> sources;
    std::thread worker;
};

} // namespace Spectrafox
