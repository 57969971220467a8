#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "canvas/canvas_content/content_local_file_texture/slots/gif_frames.h"
#include "canvas/canvas_content/content_local_file_texture/slots/picture_memory_budget.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_kind.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_report.h"

namespace Spectrafox {

// What one texture slot found in ./textures/ and decoded, ready for upload on
// the render thread. Decoding needs no GL context, so it can run on any thread.
// Move-only: it owns the decoded pixel buffers until they are released.
class SlotPicture {
public:
    // Missing here: no regular .png, .gif, .h264, .mp4, .mov or .mkv file.
    using Kind = SlotKind;
    // Asked once, before a picture is decoded, for the bytes it needs at its
    // peak and keeps as textures; false leaves the picture out.
    using Admission =
        std::function<bool(std::uint64_t peak, std::uint64_t kept, PictureMemoryBudget::Reservation* out)>;

    SlotPicture() = default;
    ~SlotPicture();
    SlotPicture(SlotPicture&& other) noexcept;
    SlotPicture& operator=(SlotPicture&& other) noexcept;
    SlotPicture(const SlotPicture&) = delete;
    SlotPicture& operator=(const SlotPicture&) = delete;

    // Looks for <directory>NNN.png, then .gif, .h264, .mp4, .mov and .mkv, and
    // decodes the first that is a regular file (a video is only probed for its
    // size, and with `with_first_picture` its first picture is decoded).
    // Anything else under those names (a directory, a FIFO, a broken link)
    // counts as no file; nothing here blocks. A PNG or GIF is measured first
    // (the PNG's header, the GIF's frame count) and decoded only when `admit`
    // (if given) grants the memory it needs.
    static SlotPicture load(int slot, const std::string& directory = "./textures/",
                            const Admission& admit = nullptr, bool with_first_picture = false);
    static std::string baseName(int slot, const std::string& directory);
    // The slot a file name (without folder) belongs to, such as 12 for
    // "012.mp4"; -1 for a name no slot looks for.
    static int slotOfFileName(const std::string& name);

    SlotKind kind = SlotKind::NotLoaded;
    std::string file_name;
    int width = 0;
    int height = 0;
    // PNG: RGBA pixels, null when the file could not be decoded.
    unsigned char* pixels = nullptr;
    // GIF: frames and delays, empty when the file could not be decoded.
    GifFrames gif_frames;
    // Video: whether the size probe answered, and whether the video is H.264
    // (a container may hold another codec).
    bool size_known = false;
    bool decodable = true;
    // A PNG or GIF left out because it would not fit the picture memory (or
    // has more than GIFLoader::kMaxFrames frames), and why.
    bool over_budget = false;
    std::string refusal;
    // The memory granted: pixels until released, then the textures.
    PictureMemoryBudget::Reservation memory;
    // Video asked for its first picture: RGBA, top row first, of
    // first_width x first_height (empty when none came: not decodable).
    std::vector<unsigned char> first_picture;
    int first_width = 0;
    int first_height = 0;
    // The status page's small copy of a PNG, or of a GIF's first frame; null
    // until makeThumbnail() (the page alone shows it).
    std::shared_ptr<const SlotThumbnail> thumbnail;

    // Made where the picture is decoded, off the render thread.
    void makeThumbnail();

    // Frees the PNG pixels and the GIF frames now.
    void release();
    void releasePixels();

private:
    struct FileRule {
        const char* suffix;
        SlotKind kind;
        void (SlotPicture::*read)(const Admission& admit);
    };
    static const FileRule kFileRules[];

    void decodePng(const Admission& admit);
    void decodeGif(const Admission& admit);
    void probeVideo(const Admission& admit);
    void probeContainer(const Admission& admit);
    bool admitted(const Admission& admit, std::uint64_t peak, std::uint64_t kept);
    void decodeFirstPicture();
};

} // namespace Spectrafox
