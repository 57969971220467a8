#pragma once

#include <string>

namespace Spectrafox {

// Writes what the current GL framebuffer holds to an opaque RGB PNG file, top
// row first.
class FrameSnapshot {
public:
    // Reads width x height pixels with glReadPixels and writes them through a
    // temporary file renamed into place, so a reader never sees half a file.
    // Returns false (and leaves no file behind) when writing fails.
    static bool writePng(const std::string& path, int width, int height);
    // "shot.png" and frame 42 give "shot-000042.png".
    static std::string numberedPath(const std::string& path, long frame);
};

} // namespace Spectrafox
