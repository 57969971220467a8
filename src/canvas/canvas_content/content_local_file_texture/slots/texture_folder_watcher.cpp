#include "canvas/canvas_content/content_local_file_texture/slots/texture_folder_watcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "canvas/canvas_content/content_local_file_texture/slots/slot_picture.h"

namespace Spectrafox {

namespace {
constexpr int kSlotCount = 256;
// A file that is still being written gives IN_MODIFY, never one of these.
constexpr uint32_t kWatched = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE;
} // namespace

TextureFolderWatcher::TextureFolderWatcher(const std::string& folder)
{
    fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd >= 0 && inotify_add_watch(fd, folder.c_str(), kWatched | IN_ONLYDIR) >= 0)
        return;
    why = "cannot watch " + folder + " (" + std::strerror(errno) + ")";
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

TextureFolderWatcher::~TextureFolderWatcher()
{
    if (fd >= 0)
        ::close(fd);
}

std::vector<int> TextureFolderWatcher::changedSlots()
{
    std::vector<int> slots;
    if (fd < 0)
        return slots;
    bool overflowed = false;
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t length = ::read(fd, events, sizeof events);
        if (length <= 0)
            break;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            overflowed = overflowed || (event->mask & IN_Q_OVERFLOW) != 0;
            const int slot = event->len > 0 ? SlotPicture::slotOfFileName(event->name) : -1;
            if (slot >= 0 && std::find(slots.begin(), slots.end(), slot) == slots.end())
                slots.push_back(slot);
        }
    }
    if (overflowed) {
        slots.resize(kSlotCount);
        for (int n = 0; n < kSlotCount; ++n)
            slots[static_cast<size_t>(n)] = n;
    }
    return slots;
}

} // namespace Spectrafox
