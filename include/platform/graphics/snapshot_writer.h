#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Spectrafox {

// Compresses and writes snapshots on a thread of its own, so a held key or a
// script asking again and again never stalls the picture. At most one
// snapshot waits or is being written; requests made meanwhile are dropped.
class SnapshotWriter {
public:
    struct Picture {
        std::string path;
        int width = 0;
        int height = 0;
        std::vector<unsigned char> rgb;
    };
    // Writes one picture; false when it could not be written.
    using WriteFunction = std::function<bool(const Picture&)>;

    // The default writes PNG files (FrameSnapshot::writeRgbPng).
    explicit SnapshotWriter(WriteFunction write = {});
    // Finishes the snapshot in hand, then ends the thread.
    ~SnapshotWriter();
    SnapshotWriter(const SnapshotWriter&) = delete;
    SnapshotWriter& operator=(const SnapshotWriter&) = delete;

    // True while a snapshot waits or is being written: a new one would be
    // dropped, so its pixels need not be read.
    bool busy() const;
    // False when busy: the picture is dropped.
    bool submit(Picture picture);

private:
    void run();

    const WriteFunction write;
    mutable std::mutex mutex;
    std::condition_variable changed;
    bool has_picture = false;
    bool stopping = false;
    Picture next;
    std::thread worker;
};

} // namespace Spectrafox
