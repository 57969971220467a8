#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"

namespace Spectrafox {

// The decoded frames and delays of one GIF, owned. The loader hands out C
// buffers that the receiver must free; they are taken over the moment the
// loader returns, so whoever holds them last frees them once, and nobody
// else can. Move-only: a moved-from object is empty.
class GifFrames {
public:
    GifFrames() = default;
    GifFrames(GifFrames&& other) noexcept;
    GifFrames& operator=(GifFrames&& other) noexcept;
    GifFrames(const GifFrames&) = delete;
    GifFrames& operator=(const GifFrames&) = delete;

    // Empty, with width and height left alone, when the loader rejects the file.
    static GifFrames load(const std::string& file_name, int* width, int* height);
    // Takes over what GIFLoader::loadAnimatedGif returned: the frame list, its
    // info.numberOfImages frames and info.delayArray (either may be null).
    static GifFrames adopt(unsigned char** frame_list, const GifAnimationInfo& info);

    // False for a file that gave no frame.
    explicit operator bool() const { return !frames.empty(); }
    int count() const { return static_cast<int>(frames.size()); }
    // RGBA pixels of frame k, null once released.
    const unsigned char* frame(int k) const { return frames[k].get(); }
    // Frees frame k's pixels as soon as they are no longer needed.
    void releaseFrame(int k) { frames[k].reset(); }
    // Frame k's delay in hundredths of a second.
    const std::vector<int>& delays() const { return delay_times; }

private:
    struct FreeWithC {
        void operator()(unsigned char* pixels) const { std::free(pixels); }
    };

    std::vector<std::unique_ptr<unsigned char, FreeWithC>> frames;
    std::vector<int> delay_times;
};

} // namespace Spectrafox
