#pragma once

#include <string>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/slots/slot_report.h"
#include "network/citp/citp_thumbnails.h"

namespace Spectrafox {

// The GDTF fixture profile with this node's own media: the built-in profile
// with the content channel's wheel filled from the slots, one wheel slot per
// slot with a working file (named by the file, a 256 x 256 picture of it in
// wheels/), each selected by its slot's DMX value. Made on the status page's
// thread, again only when a slot's file came, went or changed.
class FixtureArchive {
public:
    static constexpr int kPictureSide = 256;
    static constexpr const char* kWheel = "Textures";

    struct Media {
        int slot = 0;
        std::string name; // the file's own name
        std::string path; // to read it by
    };

    // The archive (a zip) for these slots; empty when it could not be made.
    const std::string& forSlots(const std::vector<SlotReport>& slots);

    // The profile's description.xml with the wheel and its channel sets.
    static std::string withMedia(const std::string& description, const std::vector<Media>& media);

private:
    std::string build(const std::vector<Media>& media);

    std::string made_for; // the files (names, sizes, times) the archive shows
    std::string archive;
    CitpThumbnails pictures;
};

} // namespace Spectrafox
