#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace Spectrafox {

// What the console's writer thread is to put on the terminal next. Any
// thread hands text over here and goes on at once, whether the terminal
// takes output or not: lines beyond `capacity` are dropped, and a frame rate
// not yet written is replaced by the newer one, so a stalled terminal costs
// bounded memory and never holds up the sender.
class ConsoleOutbox {
public:
    enum class Kind { Title, Text, Notice, Timecode };
    struct Entry {
        Kind kind;
        std::string text;
    };
    struct Batch {
        std::vector<Entry> entries;
        bool has_frame_rate = false;
        double frame_rate = 0.0;
        bool closed = false;
    };

    explicit ConsoleOutbox(size_t capacity = 256);

    // False when the box is full or closed: the line is dropped.
    bool post(Kind kind, std::string text);
    void postFrameRate(double fps);
    // No more output; the writer takes what is left and ends.
    void close();
    // Everything waiting, after waiting up to `limit` for something to come.
    Batch take(std::chrono::milliseconds limit);
    size_t droppedLines() const;

private:
    const size_t capacity;
    mutable std::mutex mutex;
    std::condition_variable arrived;
    Batch pending;
    size_t dropped = 0;
};

} // namespace Spectrafox
