#include "network/citp/citp_message_builder.h"

#include <algorithm>

#include "network/citp/citp_writer.h"

namespace Spectrafox {

namespace {

CitpWriter msex(uint16_t version, uint16_t in_response_to, uint32_t type)
{
    CitpWriter out(Citp::kMsex, in_response_to);
    out.u8(static_cast<uint8_t>(version >> 8));
    out.u8(static_cast<uint8_t>(version));
    out.cookie(type);
    return out;
}

// Counts are one byte before 1.2, two from then on (a library of 256
// elements says 255 to an older desk).
void count(CitpWriter& out, uint16_t version, size_t value)
{
    if (version >= Citp::kMsex12)
        out.u16(static_cast<uint16_t>(std::min<size_t>(value, 0xFFFF)));
    else
        out.u8(static_cast<uint8_t>(std::min<size_t>(value, 0xFF)));
}

// A library number (1.0) or id (1.1 and later).
void library(CitpWriter& out, uint16_t version, const Citp::LibraryId& id)
{
    if (version >= Citp::kMsex11)
        out.libraryId(id);
    else
        out.u8(id.level1);
}

void thumbnailFields(CitpWriter& out, const MsexThumbnail& thumbnail)
{
    out.cookie(thumbnail.format);
    out.u16(thumbnail.width);
    out.u16(thumbnail.height);
    out.u16(static_cast<uint16_t>(thumbnail.bytes.size()));
    out.bytes(thumbnail.bytes.data(), thumbnail.bytes.size());
}

} // namespace

std::string CitpMessageBuilder::peerLocation(uint16_t tcp_port, const std::string& name, const std::string& state)
{
    CitpWriter out(Citp::kPinf, 0);
    out.cookie(Citp::kPloc);
    out.u16(tcp_port);
    out.ucs1("MediaServer");
    out.ucs1(name);
    out.ucs1(state);
    return out.finish();
}

std::string CitpMessageBuilder::serverInfo(uint16_t version, const MsexServerInfo& info)
{
    CitpWriter out = msex(version, 0, Citp::kSInf);
    if (version >= Citp::kMsex12) {
        std::string uuid = info.uuid;
        uuid.resize(36, '0');
        out.bytes(uuid.data(), uuid.size());
    }
    out.ucs2(info.product);
    out.u8(info.version_major);
    out.u8(info.version_minor);
    if (version >= Citp::kMsex12) {
        out.u8(info.version_bugfix);
        out.u8(3);
        for (uint16_t supported : {Citp::kMsex10, Citp::kMsex11, Citp::kMsex12})
            out.u16(supported);
        out.u16(Citp::kMediaLibraryBit);
        out.u8(static_cast<uint8_t>(info.thumbnail_formats.size()));
        for (uint32_t format : info.thumbnail_formats)
            out.cookie(format);
        out.u8(0); // no video streams
    }
    out.u8(static_cast<uint8_t>(info.layer_sources.size()));
    for (const std::string& source : info.layer_sources)
        out.ucs1(source);
    return out.finish();
}

std::string CitpMessageBuilder::libraries(uint16_t version, uint16_t in_response_to,
                                          const std::vector<MsexLibrary>& list)
{
    CitpWriter out = msex(version, in_response_to, Citp::kELIn);
    out.u8(Citp::kMediaLibrary);
    count(out, version, list.size());
    for (const MsexLibrary& entry : list) {
        library(out, version, entry.id);
        if (version >= Citp::kMsex12)
            out.u32(entry.serial);
        out.u8(entry.dmx_min);
        out.u8(entry.dmx_max);
        out.ucs2(entry.name);
        if (version >= Citp::kMsex11)
            count(out, version, entry.sub_libraries);
        count(out, version, entry.elements);
    }
    return out.finish();
}

std::string CitpMessageBuilder::mediaElements(uint16_t version, uint16_t in_response_to,
                                              const Citp::LibraryId& id, const std::vector<MsexMediaElement>& list)
{
    CitpWriter out = msex(version, in_response_to, Citp::kMEIn);
    library(out, version, id);
    count(out, version, list.size());
    for (const MsexMediaElement& element : list) {
        out.u8(element.number);
        if (version >= Citp::kMsex12)
            out.u32(element.serial);
        out.u8(element.dmx_min);
        out.u8(element.dmx_max);
        out.ucs2(element.name);
        out.u64(element.timestamp);
        out.u16(element.width);
        out.u16(element.height);
        out.u32(element.length);
        out.u8(element.fps);
    }
    return out.finish();
}

std::string CitpMessageBuilder::libraryThumbnail(uint16_t version, uint16_t in_response_to,
                                                 const Citp::LibraryId& id, const MsexThumbnail& thumbnail)
{
    CitpWriter out = msex(version, in_response_to, Citp::kELTh);
    out.u8(Citp::kMediaLibrary);
    library(out, version, id);
    thumbnailFields(out, thumbnail);
    return out.finish();
}

std::string CitpMessageBuilder::elementThumbnail(uint16_t version, uint16_t in_response_to,
                                                 const Citp::LibraryId& id, uint8_t element,
                                                 const MsexThumbnail& thumbnail)
{
    CitpWriter out = msex(version, in_response_to, Citp::kEThn);
    out.u8(Citp::kMediaLibrary);
    library(out, version, id);
    out.u8(element);
    thumbnailFields(out, thumbnail);
    return out.finish();
}

std::string CitpMessageBuilder::layerStatus(uint16_t version, const std::vector<MsexLayerStatus>& layers)
{
    CitpWriter out = msex(version, 0, Citp::kLSta);
    out.u8(static_cast<uint8_t>(layers.size()));
    for (const MsexLayerStatus& layer : layers) {
        out.u8(layer.layer);
        out.u8(layer.output);
        if (version >= Citp::kMsex12) {
            out.u8(Citp::kMediaLibrary);
            out.libraryId(layer.library);
        } else {
            out.u8(layer.library.level1);
        }
        out.u8(layer.element);
        out.ucs2(layer.name);
        out.u32(layer.position);
        out.u32(layer.length);
        out.u8(layer.fps);
        out.u32(layer.flags);
    }
    return out.finish();
}

std::string CitpMessageBuilder::libraryUpdate(uint16_t version, const Citp::LibraryId& id, uint8_t flags,
                                              const std::vector<uint8_t>& affected)
{
    CitpWriter out = msex(version, 0, Citp::kELUp);
    out.u8(Citp::kMediaLibrary);
    library(out, version, id);
    out.u8(flags);
    if (version >= Citp::kMsex12) {
        uint8_t elements[32] = {};
        for (uint8_t number : affected)
            elements[number / 8] |= static_cast<uint8_t>(1u << (number % 8));
        const uint8_t sub_libraries[32] = {};
        out.bytes(elements, sizeof elements);
        out.bytes(sub_libraries, sizeof sub_libraries);
    }
    return out.finish();
}

std::string CitpMessageBuilder::nack(uint16_t version, uint16_t in_response_to, uint32_t received_type)
{
    CitpWriter out = msex(version, in_response_to, Citp::kNack);
    out.cookie(received_type);
    return out.finish();
}

} // namespace Spectrafox
