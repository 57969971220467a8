#include "network/citp/citp_writer.h"

namespace Spectrafox {

namespace {

// The next code point of UTF-8 text, or '?' for a broken or unpaired byte.
uint32_t nextCodePoint(const std::string& text, size_t* at)
{
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(*at);
    int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
    if (extra < 0 || *at + extra >= text.size()) {
        ++*at;
        return '?';
    }
    uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        if ((byte(*at + k) & 0xC0) != 0x80) {
            ++*at;
            return '?';
        }
        code = code << 6 | (byte(*at + k) & 0x3F);
    }
    *at += 1 + extra;
    return code;
}

} // namespace

CitpWriter::CitpWriter(uint32_t layer, uint16_t in_response_to)
{
    cookie(Citp::kCitp);
    u8(1); // CITP 1.0
    u8(0);
    u16(in_response_to);
    u32(0); // MessageSize, set by finish
    u16(1); // MessagePartCount: we never split a message
    u16(0); // MessagePart
    cookie(layer);
}

void CitpWriter::u16(uint16_t value)
{
    u8(static_cast<uint8_t>(value));
    u8(static_cast<uint8_t>(value >> 8));
}

void CitpWriter::u32(uint32_t value)
{
    u16(static_cast<uint16_t>(value));
    u16(static_cast<uint16_t>(value >> 16));
}

void CitpWriter::u64(uint64_t value)
{
    u32(static_cast<uint32_t>(value));
    u32(static_cast<uint32_t>(value >> 32));
}

void CitpWriter::cookie(uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        u8(static_cast<uint8_t>(value >> shift));
}

void CitpWriter::libraryId(const Citp::LibraryId& id)
{
    u8(id.level);
    u8(id.level1);
    u8(id.level2);
    u8(id.level3);
}

void CitpWriter::ucs1(const std::string& text)
{
    for (char c : text)
        if (c != '\0')
            out.push_back(c);
    u8(0);
}

void CitpWriter::ucs2(const std::string& utf8)
{
    size_t at = 0;
    while (at < utf8.size()) {
        const uint32_t code = nextCodePoint(utf8, &at);
        if (code == 0)
            continue;
        u16(code > 0xFFFF || (code >= 0xD800 && code <= 0xDFFF) ? uint16_t{'?'} : static_cast<uint16_t>(code));
    }
    u16(0);
}

void CitpWriter::bytes(const void* data, size_t size)
{
    out.append(static_cast<const char*>(data), size);
}

std::string CitpWriter::finish()
{
    const auto size = static_cast<uint32_t>(out.size());
    for (int k = 0; k < 4; ++k)
        out[8 + k] = static_cast<char>(size >> (8 * k));
    return std::move(out);
}

} // namespace Spectrafox
