#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace Spectrafox {

// Watches the textures folder through inotify and tells which slots' files
// were completed (written and closed, or moved in), removed or moved away,
// so that a slot is reloaded only once a copy is whole. Never blocks: the
// render thread asks once a frame.
class TextureFolderWatcher {
public:
    // What changed since the last call.
    struct Changes {
        // Each slot once, in the order seen.
        std::vector<int> slots;
        // Events were lost (the kernel's queue overflowed, or the folder was
        // replaced and is watched anew): compare every slot with its file.
        bool rescan = false;
    };

    explicit TextureFolderWatcher(const std::string& folder = "./textures");
    ~TextureFolderWatcher();
    TextureFolderWatcher(const TextureFolderWatcher&) = delete;
    TextureFolderWatcher& operator=(const TextureFolderWatcher&) = delete;

    // False when the folder cannot be watched; error() says why.
    bool ok() const { return fd >= 0; }
    const std::string& error() const { return why; }
    Changes changes();

private:
    void folderLost();
    void watchAgain(Changes* changes);

    const std::string folder;
    int fd = -1;
    int watch = -1; // -1 while the folder is gone
    std::chrono::steady_clock::time_point next_try;
    std::string why;
};

} // namespace Spectrafox
