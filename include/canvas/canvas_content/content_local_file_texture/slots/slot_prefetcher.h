#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/slots/slot_picture.h"

namespace Spectrafox {

// Decodes slot pictures on worker threads ahead of the render thread, which
// takes them strictly in slot order and uploads them. At most `max_ahead`
// pictures are decoded or being decoded beyond the one taken last, so memory
// stays bounded however large the pictures are.
class SlotPrefetcher {
public:
    using Decoder = std::function<SlotPicture(int slot)>;

    SlotPrefetcher(int slot_count, Decoder decoder, int worker_count, int max_ahead);
    ~SlotPrefetcher();
    SlotPrefetcher(const SlotPrefetcher&) = delete;
    SlotPrefetcher& operator=(const SlotPrefetcher&) = delete;

    // Slots must be taken in increasing order, each once. Decodes the slot on
    // the calling thread when no worker has started on it yet.
    SlotPicture take(int slot);

    static int defaultWorkerCount();

private:
    void workerLoop();
    bool mayClaim() const;

    const int slot_count;
    const Decoder decoder;
    const int max_ahead;
    std::mutex mutex;
    std::condition_variable changed;
    int next_unclaimed = 0;
    int next_to_take = 0;
    bool stopping = false;
    std::map<int, SlotPicture> ready;
    std::vector<std::thread> workers;
};

} // namespace Spectrafox
