#include "platform/graphics/snapshot_writer.h"

#include "platform/graphics/frame_snapshot.h"

#include <cstdio>
#include <utility>

namespace Spectrafox {

namespace {
bool writePngFile(const SnapshotWriter::Picture& picture)
{
    if (FrameSnapshot::writeRgbPng(picture.path, picture.width, picture.height, picture.rgb))
        return true;
    std::fprintf(stderr, "Snapshot: cannot write %s\n", picture.path.c_str());
    return false;
}
} // namespace

SnapshotWriter::SnapshotWriter(WriteFunction write_picture)
    : write(write_picture ? std::move(write_picture) : WriteFunction(&writePngFile))
{
    worker = std::thread(&SnapshotWriter::run, this);
}

SnapshotWriter::~SnapshotWriter()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    worker.join();
}

bool SnapshotWriter::busy() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return has_picture;
}

bool SnapshotWriter::submit(Picture picture)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (has_picture)
            return false;
        next = std::move(picture);
        has_picture = true;
    }
    changed.notify_all();
    return true;
}

void SnapshotWriter::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return has_picture || stopping; });
        if (!has_picture)
            return;
        const Picture picture = std::move(next);
        lock.unlock();
        write(picture);
        lock.lock();
        has_picture = false;
    }
}

} // namespace Spectrafox
