#pragma once

#include <string>
#include <vector>

namespace Spectrafox {

// Writes what the current GL framebuffer holds to an opaque RGB PNG file, top
// row first.
class FrameSnapshot {
public:
    // readRgb, then writeRgbPng: both halves on the calling thread.
    static bool writePng(const std::string& path, int width, int height);
    // The current framebuffer as RGB rows, top row first (GL thread).
    static std::vector<unsigned char> readRgb(int width, int height);
    // Encodes and writes through a new temporary file in the same folder,
    // renamed into place: a reader never sees half a file, and a link
    // planted at the path or beside it is replaced, never followed (the
    // server may run as root in a folder others can write). Returns false
    // (and leaves no file behind) when writing fails or files are closed.
    // Any thread.
    static bool writeRgbPng(const std::string& path, int width, int height,
                            const std::vector<unsigned char>& rgb);
    // For a process about to end without winding down (the stop deadline):
    // waits briefly for a file being written to reach its name, then lets
    // no new one begin, so no snapshot is left half written. Any thread.
    static void closeFiles();
    // "shot.png" and frame 42 give "shot-000042.png".
    static std::string numberedPath(const std::string& path, long frame);
};

} // namespace Spectrafox
