#include "network/citp/citp_message_parser.h"

namespace Spectrafox {

namespace {

// Little-endian fields off a bounded buffer; a read past its end marks the
// message short and yields zeros.
class FieldReader {
public:
    FieldReader(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool ok() const { return !short_read; }
    uint8_t u8() { return has(1) ? data[at++] : 0; }
    uint16_t u16()
    {
        const uint16_t low = u8();
        return static_cast<uint16_t>(low | u8() << 8);
    }
    uint32_t cookie()
    {
        uint32_t value = 0;
        for (int k = 0; k < 4; ++k)
            value = value << 8 | u8();
        return value;
    }
    Citp::LibraryId libraryId()
    {
        Citp::LibraryId id;
        id.level = u8();
        id.level1 = u8();
        id.level2 = u8();
        id.level3 = u8();
        return id;
    }
    // A count: one byte before MSEX 1.2, two from then on.
    size_t count(uint16_t version) { return version >= Citp::kMsex12 ? u16() : u8(); }
    bool has(size_t bytes)
    {
        if (short_read || size - at < bytes)
            short_read = true;
        return !short_read;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool short_read = false;
};

uint32_t littleEndian32(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool knownVersion(uint16_t version)
{
    return version == Citp::kMsex10 || version == Citp::kMsex11 || version == Citp::kMsex12;
}

// Element numbers (GEIn, GETh): `count` of one byte each.
bool readElements(FieldReader& in, size_t count, MsexRequest* out)
{
    if (!in.has(count))
        return false;
    out->every = count == 0;
    out->elements.reserve(count);
    for (size_t k = 0; k < count; ++k)
        out->elements.push_back(in.u8());
    return true;
}

// A 1.0 library number, or a library id from 1.1 on.
Citp::LibraryId readLibrary(FieldReader& in, uint16_t version)
{
    if (version >= Citp::kMsex11)
        return in.libraryId();
    Citp::LibraryId id;
    id.level = 1;
    id.level1 = in.u8();
    return id;
}

bool readLibraries(FieldReader& in, uint16_t version, size_t count, MsexRequest* out)
{
    const size_t bytes_each = version >= Citp::kMsex11 ? 4 : 1;
    if (!in.has(count * bytes_each))
        return false;
    out->every = count == 0;
    for (size_t k = 0; k < count; ++k)
        out->libraries.push_back(readLibrary(in, version));
    return true;
}

bool readClientInfo(FieldReader& in, MsexRequest* out)
{
    const size_t count = in.u8();
    if (!in.has(2 * count))
        return false;
    for (size_t k = 0; k < count; ++k) {
        const uint8_t first = in.u8();
        const uint16_t version = CitpMessageParser::versionOfBytes(first, in.u8());
        if (version != 0)
            out->versions.push_back(version);
    }
    return true;
}

void readThumbnailAsk(FieldReader& in, MsexRequest* out)
{
    out->thumbnail_format = in.cookie();
    out->thumbnail_width = in.u16();
    out->thumbnail_height = in.u16();
    out->thumbnail_flags = in.u8();
    out->library_type = in.u8();
}

bool readBody(FieldReader& in, MsexRequest* out)
{
    const uint16_t v = out->version;
    switch (out->type) {
    case Citp::kCInf:
        return readClientInfo(in, out);
    case Citp::kGELI:
        out->library_type = in.u8();
        if (v >= Citp::kMsex11)
            out->parent = in.libraryId();
        return readLibraries(in, v, in.count(v), out);
    case Citp::kGEIn:
        out->library_type = in.u8();
        out->library = readLibrary(in, v);
        return readElements(in, in.count(v), out);
    case Citp::kGELT:
        readThumbnailAsk(in, out);
        return readLibraries(in, v, in.count(v), out);
    case Citp::kGETh:
        readThumbnailAsk(in, out);
        out->library = readLibrary(in, v);
        return readElements(in, in.count(v), out);
    default:
        return false;
    }
}

bool isRequestWeServe(uint32_t type)
{
    return type == Citp::kCInf || type == Citp::kGELI || type == Citp::kGEIn || type == Citp::kGELT ||
           type == Citp::kGETh;
}

} // namespace

uint16_t CitpMessageParser::versionOfBytes(uint8_t first, uint8_t second)
{
    const uint16_t as_documented = static_cast<uint16_t>(second << 8 | first);
    const uint16_t major_first = static_cast<uint16_t>(first << 8 | second);
    if (knownVersion(as_documented))
        return as_documented;
    return knownVersion(major_first) ? major_first : 0;
}

CitpMessageParser::Framing CitpMessageParser::frame(const uint8_t* data, size_t size, size_t* message_bytes)
{
    static const uint8_t kCookie[4] = {'C', 'I', 'T', 'P'};
    for (size_t k = 0; k < 4 && k < size; ++k)
        if (data[k] != kCookie[k])
            return Framing::Broken;
    if (size < 12)
        return Framing::Incomplete;
    const uint32_t message_size = littleEndian32(data + 8);
    if (message_size < Citp::kHeaderBytes || message_size > Citp::kMostRequestBytes)
        return Framing::Broken;
    *message_bytes = message_size;
    return size >= message_size ? Framing::Complete : Framing::Incomplete;
}

CitpMessageParser::Outcome CitpMessageParser::parse(const uint8_t* message, size_t size, MsexRequest* out)
{
    FieldReader in(message, size);
    in.cookie(); // "CITP", checked by frame()
    in.u16();    // CITP version
    out->request_index = in.u16();
    in.cookie(); // MessageSize, checked by frame()
    const uint16_t part_count = in.u16();
    in.u16(); // MessagePart
    if (in.cookie() != Citp::kMsex)
        return Outcome::NotMsex;
    const uint8_t major = in.u8();
    out->version = static_cast<uint16_t>(major << 8 | in.u8());
    out->type = in.cookie();
    if (!in.ok() || !knownVersion(out->version) || part_count > 1)
        return Outcome::Malformed;
    if (!isRequestWeServe(out->type))
        return Outcome::Unknown;
    return readBody(in, out) && in.ok() ? Outcome::Request : Outcome::Malformed;
}

} // namespace Spectrafox
