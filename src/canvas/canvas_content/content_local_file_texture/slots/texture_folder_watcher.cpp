#include "canvas/canvas_content/content_local_file_texture/slots/texture_folder_watcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "canvas/canvas_content/content_local_file_texture/slots/slot_picture.h"

namespace Spectrafox {

namespace {
// A file that is still being written gives IN_MODIFY, never one of these.
constexpr uint32_t kWatched =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR;
// The watched folder itself went away (renamed, removed, its file system
// unmounted): the kernel sends IN_IGNORED unasked when a watch ends.
constexpr uint32_t kFolderGone = IN_MOVE_SELF | IN_DELETE_SELF | IN_IGNORED | IN_UNMOUNT;
// While no folder stands under the name, it is looked for this often.
constexpr auto kRetryPause = std::chrono::milliseconds(250);
} // namespace

TextureFolderWatcher::TextureFolderWatcher(const std::string& watched_folder) : folder(watched_folder)
{
    fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd >= 0)
        watch = inotify_add_watch(fd, folder.c_str(), kWatched);
    if (watch >= 0)
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

TextureFolderWatcher::Changes TextureFolderWatcher::changes()
{
    Changes changes;
    if (fd < 0)
        return changes;
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t length = ::read(fd, events, sizeof events);
        if (length <= 0)
            break;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                changes.rescan = true;
                continue;
            }
            if (watch < 0 || event->wd != watch)
                continue; // the last words of a folder no longer watched
            if (event->mask & kFolderGone) {
                folderLost();
                continue;
            }
            const int slot = event->len > 0 ? SlotPicture::slotOfFileName(event->name) : -1;
            if (slot >= 0 && std::find(changes.slots.begin(), changes.slots.end(), slot) == changes.slots.end())
                changes.slots.push_back(slot);
        }
    }
    if (watch < 0)
        watchAgain(&changes);
    return changes;
}

// A watch follows its folder wherever it is moved: it is ended here, and the
// name is watched again, whichever folder stands under it now.
void TextureFolderWatcher::folderLost()
{
    inotify_rm_watch(fd, watch); // already ended after IN_IGNORED
    watch = -1;
    next_try = std::chrono::steady_clock::now();
}

// What happened under the name while nobody watched is found by a rescan.
void TextureFolderWatcher::watchAgain(Changes* changes)
{
    const auto now = std::chrono::steady_clock::now();
    if (now < next_try)
        return;
    watch = inotify_add_watch(fd, folder.c_str(), kWatched);
    if (watch >= 0)
        changes->rescan = true;
    else
        next_try = now + kRetryPause;
}

} // namespace Spectrafox
