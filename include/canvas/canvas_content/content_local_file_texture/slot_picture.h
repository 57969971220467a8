#pragma once

#include <string>

#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"

namespace Spectrafox {

// What one texture slot found in ./textures/ and decoded, ready for upload on
// the render thread. Decoding needs no GL context, so it can run on any thread.
// Move-only: it owns the decoded pixel buffers until they are released.
class SlotPicture {
public:
    enum class Kind {
        NotLoaded, // nothing looked at yet: the slot decodes for itself
        Missing,   // no regular .png, .gif, .h264, .mp4, .mov or .mkv file
        Png,
        Gif,
        Video,
    };

    SlotPicture() = default;
    ~SlotPicture();
    SlotPicture(SlotPicture&& other) noexcept;
    SlotPicture& operator=(SlotPicture&& other) noexcept;
    SlotPicture(const SlotPicture&) = delete;
    SlotPicture& operator=(const SlotPicture&) = delete;

    // Looks for <directory>NNN.png, then .gif, .h264, .mp4, .mov and .mkv, and
    // decodes the first that is a regular file (a video is only probed for its
    // size). Anything else under those names (a directory, a FIFO, a broken
    // link) counts as no file; nothing here blocks.
    static SlotPicture load(int slot, const std::string& directory = "./textures/");
    static std::string baseName(int slot, const std::string& directory);

    Kind kind = Kind::NotLoaded;
    std::string file_name;
    int width = 0;
    int height = 0;
    // PNG: RGBA pixels, null when the file could not be decoded.
    unsigned char* pixels = nullptr;
    // GIF: frame list and timing, null frames when the file could not be decoded.
    unsigned char** gif_frames = nullptr;
    GifAnimationInfo gif_info{};
    // Video: whether the size probe answered, and whether the video is H.264
    // (a container may hold another codec).
    bool size_known = false;
    bool decodable = true;

    // Frees the PNG pixels / the GIF frames, list and delays now.
    void release();
    void releasePixels();
    void releaseGifFrames();

private:
    void decodePng();
    void decodeGif();
    void probeVideo();
    void probeContainer();
};

} // namespace Spectrafox
