#pragma once

#include <string>
#include <vector>

namespace Spectrafox {

// Watches the textures folder through inotify and tells which slots' files
// were completed (written and closed, or moved in), removed or moved away,
// so that a slot is reloaded only once a copy is whole. Never blocks: the
// render thread asks once a frame.
class TextureFolderWatcher {
public:
    explicit TextureFolderWatcher(const std::string& folder = "./textures");
    ~TextureFolderWatcher();
    TextureFolderWatcher(const TextureFolderWatcher&) = delete;
    TextureFolderWatcher& operator=(const TextureFolderWatcher&) = delete;

    // False when the folder cannot be watched; error() says why.
    bool ok() const { return fd >= 0; }
    const std::string& error() const { return why; }
    // The slots changed since the last call, each once, in the order seen;
    // every slot when the kernel dropped events.
    std::vector<int> changedSlots();

private:
    int fd = -1;
    std::string why;
};

} // namespace Spectrafox
