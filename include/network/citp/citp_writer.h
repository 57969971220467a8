#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "network/citp/citp_protocol.h"

namespace Spectrafox {

// Lays out one CITP message: the header first (its size filled in by
// finish), then the fields, little-endian, as the protocol has them.
class CitpWriter {
public:
    // `layer` is the second layer's cookie (PINF, MSEX); `in_response_to`
    // echoes the request's index (0 for messages sent unasked).
    CitpWriter(uint32_t layer, uint16_t in_response_to);

    void u8(uint8_t value) { out.push_back(static_cast<char>(value)); }
    void u16(uint16_t value);
    void u32(uint32_t value);
    void u64(uint64_t value);
    void cookie(uint32_t value);
    void libraryId(const Citp::LibraryId& id);
    // Narrow text, ended by a zero byte.
    void ucs1(const std::string& text);
    // UTF-8 text as UTF-16LE, ended by a zero unit; what UTF-16 cannot hold
    // in one unit, and broken UTF-8, becomes '?'.
    void ucs2(const std::string& utf8);
    void bytes(const void* data, size_t size);

    // The message, its size field set.
    std::string finish();

private:
    std::string out;
};

} // namespace Spectrafox
