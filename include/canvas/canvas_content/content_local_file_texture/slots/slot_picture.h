#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/regular_file.h"
#include "canvas/canvas_content/content_local_file_texture/slots/gif_frames.h"
#include "canvas/canvas_content/content_local_file_texture/slots/picture_memory_budget.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_kind.h"
#include "platform/media/clip_decoder.h"
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

    // The file a slot loads from, as it was when looked at: another name, a
    // new file under the name or new contents all differ.
    struct Source {
        std::string file_name; // empty: no file
        RegularFile::Version version;
        bool operator==(const Source& other) const
        {
            return file_name == other.file_name && version == other.version;
        }
        bool operator!=(const Source& other) const { return !(*this == other); }
    };

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
    // counts as no file; nothing here blocks. A PNG, a GIF or a video's first
    // picture is measured first (the PNG's header, the GIF's frame count, the
    // video's probe) and decoded only when `admit` (if given) grants the
    // memory it needs. A video wider or taller than `largest_video_side`
    // (when above 0) is refused before anything of it is decoded.
    static SlotPicture load(int slot, const std::string& directory = "./textures/",
                            const Admission& admit = nullptr, bool with_first_picture = false,
                            int largest_video_side = 0);
    static std::string baseName(int slot, const std::string& directory);
    // The file load() would take for the slot now.
    static Source sourceOf(int slot, const std::string& directory = "./textures/");
    // The slot a file name (without folder) belongs to, such as 12 for
    // "012.mp4"; -1 for a name no slot looks for.
    static int slotOfFileName(const std::string& name);

    SlotKind kind = SlotKind::NotLoaded;
    std::string file_name;
    // Looked at before reading: a later change never passes for this one.
    Source source;
    int width = 0;
    int height = 0;
    // PNG: RGBA pixels, null when the file could not be decoded.
    unsigned char* pixels = nullptr;
    // PNG: a texture that holds the pixels already (uploaded in bands on the
    // render thread); the slot's Texture takes it. 0: the Texture uploads.
    unsigned int uploaded_texture = 0;
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
    // Video asked for its first picture: as decoded, planes of 8-bit 4:2:0 or
    // another format (null when none came: not decodable).
    DecodedPicture first_picture;
    // A video refused for its size (refusal says why).
    bool too_large = false;
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
    static const FileRule* firstPresent(int slot, const std::string& directory, Source* source);

    void decodePng(const Admission& admit);
    void decodeGif(const Admission& admit);
    void probeVideo(const Admission& admit);
    bool admitted(const Admission& admit, std::uint64_t peak, std::uint64_t kept);
    void decodeFirstPicture(const Admission& admit);
    void refuseLargerThan(int largest_video_side);
};

} // namespace Spectrafox
