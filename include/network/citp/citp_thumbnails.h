#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "network/citp/citp_message_builder.h"

namespace Spectrafox {

// Thumbnails of the slots' files for desks: made from the file itself (a
// PNG's picture, a GIF's first frame, a video's first picture), scaled with
// a box filter and encoded as asked, on the CITP thread, never the render
// thread's. Each is kept until its file changes (size or time).
class CitpThumbnails {
public:
    struct Ask {
        uint32_t format = 0; // PNG, JPEG or RGB8
        int width = 0;       // 1 to Citp::kMostThumbnailSide
        int height = 0;
        bool keep_aspect = false;
        bool bgr = false; // RGB8 of MSEX 1.0 is sent blue first
        size_t most_bytes = Citp::kMostThumbnailBytes; // made smaller until it fits
    };
    static constexpr size_t kMostKept = 600;

    // False when the file gives no picture or the format is not served.
    bool make(const std::string& path, const Ask& ask, MsexThumbnail* out);

    // An RGBA picture, top row first, as RGB of to_width x to_height: each
    // target pixel the mean of the source pixels under it.
    static std::vector<uint8_t> boxScale(const uint8_t* rgba, int width, int height, int to_width,
                                         int to_height);
    // The size to make: within the asked box, keeping the picture's aspect
    // when asked, at least 1 x 1.
    static void fitSize(int width, int height, const Ask& ask, int* to_width, int* to_height);
    // A file's picture as RGBA by its name's ending; false when none came.
    static bool decodeFile(const std::string& path, std::vector<uint8_t>* rgba, int* width, int* height);

private:
    static bool encode(const std::vector<uint8_t>& rgba, int width, int height, const Ask& ask,
                       MsexThumbnail* out);

    std::map<std::string, MsexThumbnail> kept;
};

} // namespace Spectrafox
