#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/slots/slot_report.h"
#include "network/citp/citp_message_builder.h"
#include "network/citp/citp_message_parser.h"
#include "network/citp/citp_thumbnails.h"

namespace Spectrafox {

// The node's slots as one MSEX media library, "Textures": one element per
// filled slot, its number the slot's (the DMX value that selects it). Made
// from the slot reports the render thread publishes for the status page, and
// from the files themselves; used on the CITP thread only.
class CitpMediaLibrary {
public:
    struct Identity {
        std::string name;    // the node's name, as in its ArtPollReply
        std::string uuid;    // 36 characters
        std::vector<std::string> layer_sources; // per canvas, as the desk patches it
    };
    static const Citp::LibraryId kLibrary;

    explicit CitpMediaLibrary(Identity identity) : identity(std::move(identity)) {}

    // Takes the slots as last published. The element numbers whose file came,
    // went or changed since the last call are added to *changed.
    void update(const std::vector<SlotReport>& slots, std::vector<uint8_t>* changed);

    // The replies to one request, in the version it was asked in.
    std::vector<std::string> answer(const MsexRequest& request);
    std::string serverInfo(uint16_t version) const;
    // The version a CInf settles on: the highest the desk and we speak.
    static uint16_t chosenVersion(const MsexRequest& client_info);
    // The numbers of the filled slots, lowest first.
    std::vector<uint8_t> elementNumbers() const;
    // One layer per canvas; `contents` holds each canvas's content number.
    std::string layerStatus(uint16_t version, const std::vector<int>& contents);

    // The DMX connection string of a layer: Art-Net's Net, universe (sub-net
    // x 16 + universe) and first channel, or sACN's universe and channel.
    static std::string artnetSource(int net, int subnet, int universe, int channel);
    static std::string sacnSource(int universe, int channel);

    std::atomic<bool> keep_going{true}; // cleared to cut a long probe short at stop

private:
    struct Element {
        SlotReport report;
        std::string name; // the file's own name
        uint32_t serial = 0;
        uint64_t modified = 0; // seconds since 1970
        bool timed = false;    // length and rate known
        uint32_t frames = 1;
        uint8_t fps = 0;
    };

    std::string libraryList(const MsexRequest& request) const;
    std::vector<std::string> mediaElements(const MsexRequest& request);
    MsexMediaElement describe(Element& element);
    std::vector<std::string> elementThumbnails(const MsexRequest& request);
    std::string libraryThumbnail(const MsexRequest& request);
    bool thumbnailOf(const Element& element, const MsexRequest& request, MsexThumbnail* out);
    void timeClip(Element& element);

    Identity identity;
    std::map<int, Element> elements;
    CitpThumbnails thumbnails;
};

} // namespace Spectrafox
