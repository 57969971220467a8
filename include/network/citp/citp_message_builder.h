#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "network/citp/citp_protocol.h"

namespace Spectrafox {

struct MsexServerInfo {
    std::string uuid; // 36 characters
    std::string product;
    uint8_t version_major = 0;
    uint8_t version_minor = 0;
    uint8_t version_bugfix = 0;
    std::vector<uint32_t> thumbnail_formats;
    std::vector<std::string> layer_sources; // one DMX connection string per layer
};

struct MsexLibrary {
    Citp::LibraryId id;
    uint32_t serial = 0;
    uint8_t dmx_min = 0;
    uint8_t dmx_max = 0;
    std::string name;
    uint16_t sub_libraries = 0;
    uint16_t elements = 0;
};

struct MsexMediaElement {
    uint8_t number = 0;
    uint32_t serial = 0;
    uint8_t dmx_min = 0;
    uint8_t dmx_max = 0;
    std::string name;
    uint64_t timestamp = 0; // seconds since 1970
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t length = 0; // frames
    uint8_t fps = 0;
};

struct MsexThumbnail {
    uint32_t format = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    std::string bytes; // at most Citp::kMostThumbnailBytes
};

struct MsexLayerStatus {
    uint8_t layer = 0;
    uint8_t output = 0;
    Citp::LibraryId library;
    uint8_t element = 0;
    std::string name;
    uint32_t position = 0; // frames
    uint32_t length = 0;
    uint8_t fps = 0;
    uint32_t flags = 0;
};

// The messages this node sends, each laid out for the MSEX version given.
// Where readings of the protocol disagree, the protocol document's is taken:
// the 1.2 UUID is 36 characters without an end; a version word is a
// little-endian uint16, major in the high byte; 1.0 and 1.1 share one layer
// status layout (a library number), 1.2 adds the library type and id.
class CitpMessageBuilder {
public:
    static std::string peerLocation(uint16_t tcp_port, const std::string& name, const std::string& state);
    static std::string serverInfo(uint16_t version, const MsexServerInfo& info);
    static std::string libraries(uint16_t version, uint16_t in_response_to, const std::vector<MsexLibrary>& list);
    static std::string mediaElements(uint16_t version, uint16_t in_response_to, const Citp::LibraryId& library,
                                     const std::vector<MsexMediaElement>& list);
    static std::string libraryThumbnail(uint16_t version, uint16_t in_response_to, const Citp::LibraryId& library,
                                        const MsexThumbnail& thumbnail);
    static std::string elementThumbnail(uint16_t version, uint16_t in_response_to, const Citp::LibraryId& library,
                                        uint8_t element, const MsexThumbnail& thumbnail);
    static std::string layerStatus(uint16_t version, const std::vector<MsexLayerStatus>& layers);
    // `affected`: the element numbers that changed (1.2 carries them).
    static std::string libraryUpdate(uint16_t version, const Citp::LibraryId& library, uint8_t flags,
                                     const std::vector<uint8_t>& affected);
    static std::string nack(uint16_t version, uint16_t in_response_to, uint32_t received_type);
};

} // namespace Spectrafox
