#include "shell/console_outbox.h"

#include <utility>

namespace Spectrafox {

ConsoleOutbox::ConsoleOutbox(size_t max_lines) : capacity(max_lines) {}

bool ConsoleOutbox::post(Kind kind, std::string text)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (pending.closed || pending.entries.size() >= capacity) {
            ++dropped;
            return false;
        }
        pending.entries.push_back(Entry{kind, std::move(text)});
    }
    arrived.notify_one();
    return true;
}

void ConsoleOutbox::postFrameRate(double fps)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        pending.has_frame_rate = true;
        pending.frame_rate = fps;
    }
    arrived.notify_one();
}

void ConsoleOutbox::close()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        pending.closed = true;
    }
    arrived.notify_one();
}

ConsoleOutbox::Batch ConsoleOutbox::take(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex);
    arrived.wait_for(lock, limit, [this] {
        return pending.closed || pending.has_frame_rate || !pending.entries.empty();
    });
    Batch batch = std::move(pending);
    pending = Batch{};
    pending.closed = batch.closed;
    return batch;
}

size_t ConsoleOutbox::droppedLines() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return dropped;
}

} // namespace Spectrafox
