#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "network/citp/citp_protocol.h"

namespace Spectrafox {

// One MSEX request from a desk, in the fields this node answers.
struct MsexRequest {
    uint16_t request_index = 0;
    uint16_t version = 0; // major << 8 | minor
    uint32_t type = 0;    // the MSEX cookie: CInf, GELI, GETh, ...
    std::vector<uint16_t> versions; // CInf: those the desk speaks, major << 8 | minor

    uint32_t thumbnail_format = 0; // GELT, GETh
    int thumbnail_width = 0;
    int thumbnail_height = 0;
    uint8_t thumbnail_flags = 0;

    uint8_t library_type = 0;
    Citp::LibraryId parent;  // GELI (1.1 and later)
    Citp::LibraryId library; // GEIn, GETh (a 1.0 number is level 1)
    bool every = false;      // a count of 0: every library or element
    std::vector<Citp::LibraryId> libraries; // GELI, GELT
    std::vector<uint8_t> elements;          // GEIn, GETh
};

// Reads desks' messages off a TCP stream. Every count and length is checked
// against the bytes there are; nothing is read past the message's size.
class CitpMessageParser {
public:
    enum class Framing { Incomplete, Complete, Broken };
    // Whether the stream's first message is all there (its size in
    // *message_bytes), or the stream is not CITP or names an impossible size.
    static Framing frame(const uint8_t* data, size_t size, size_t* message_bytes);

    enum class Outcome {
        Request,   // *out holds it
        NotMsex,   // another layer (PINF, ...): nothing to answer
        Unknown,   // an MSEX message we do not serve (GVSr, RqSt, ...)
        Malformed, // cut short, a version we do not speak, or split in parts
    };
    // `message` is one whole message as frame() found it. *out is written
    // for Request, and its type and version for Unknown and Malformed.
    static Outcome parse(const uint8_t* message, size_t size, MsexRequest* out);

    // A version word as desks send it: the protocol document has it as a
    // little-endian uint16 with the major number in the high byte (bytes
    // minor, major), some desks send major first. Both readings are taken:
    // only one of them names a version from 1.0 to 1.2. 0 for neither.
    static uint16_t versionOfBytes(uint8_t first, uint8_t second);
};

} // namespace Spectrafox
