#include "support/gif_writer.h"

#include <map>
#include <utility>

namespace Spectrafox::Test {

namespace {

void putLittleEndian16(std::string& out, int value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

} // namespace

void CodeWriter::put(int code, int width)
{
    pending |= static_cast<uint32_t>(code) << pendingBits;
    pendingBits += width;
    while (pendingBits >= 8) {
        data += static_cast<char>(pending & 0xFF);
        pending >>= 8;
        pendingBits -= 8;
    }
}

std::string CodeWriter::bytes() const
{
    return pendingBits > 0 ? data + static_cast<char>(pending & 0xFF) : data;
}

std::string lzwEncode(const std::vector<uint8_t>& indices, int minCodeSize, bool clearWhenFull, bool clearAtEnd)
{
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    CodeWriter out;
    std::map<std::pair<int, int>, int> table;
    int nextCode = clearCode + 2;
    int width = minCodeSize + 1;
    auto clear = [&] {
        out.put(clearCode, width);
        table.clear();
        nextCode = clearCode + 2;
        width = minCodeSize + 1;
    };
    // The decoder widens once the code it will define next no longer fits.
    auto emit = [&](int code) {
        out.put(code, width);
        if (nextCode >= (1 << width) && width < 12)
            ++width;
    };
    clear();
    if (!indices.empty()) {
        int current = indices[0];
        for (std::size_t i = 1; i < indices.size(); ++i) {
            const std::pair<int, int> key{current, indices[i]};
            const auto found = table.find(key);
            if (found != table.end()) {
                current = found->second;
                continue;
            }
            emit(current);
            if (nextCode < 4096)
                table[key] = nextCode++;
            if (nextCode == 4096 && clearWhenFull)
                clear();
            current = indices[i];
        }
        emit(current);
    }
    if (clearAtEnd)
        clear();
    out.put(endCode, width);
    return out.bytes();
}

std::vector<uint8_t> interlaceRows(const std::vector<uint8_t>& indices, int width, int height)
{
    static const int kStart[4] = {0, 4, 2, 1};
    static const int kStep[4] = {8, 8, 4, 2};
    std::vector<uint8_t> stored;
    for (int pass = 0; pass < 4; ++pass)
        for (int row = kStart[pass]; row < height; row += kStep[pass])
            stored.insert(stored.end(), indices.begin() + row * width, indices.begin() + (row + 1) * width);
    return stored;
}

std::string subBlocks(const std::string& data)
{
    std::string out;
    for (std::size_t pos = 0; pos < data.size(); pos += 255) {
        const std::string chunk = data.substr(pos, 255);
        out += static_cast<char>(chunk.size());
        out += chunk;
    }
    out += '\0';
    return out;
}

int colorTableSizeField(std::size_t entries)
{
    int field = 0;
    while ((std::size_t{2} << field) < entries && field < 7)
        ++field;
    return field;
}

GifImage solidImage(int width, int height, uint8_t index)
{
    GifImage image;
    image.width = width;
    image.height = height;
    image.minCodeSize = 2;
    image.indices.assign(static_cast<size_t>(width) * height, index);
    return image;
}

GifBuilder::GifBuilder(int width, int height, const std::vector<GifColor>& globalTable, int background,
                       const std::string& version)
    : data(version)
{
    putLittleEndian16(data, width);
    putLittleEndian16(data, height);
    const int packed = globalTable.empty() ? 0 : 0x80 | 0x70 | colorTableSizeField(globalTable.size());
    data += static_cast<char>(packed);
    data += static_cast<char>(background);
    data += '\0';
    if (!globalTable.empty())
        colorTable(globalTable);
}

void GifBuilder::colorTable(const std::vector<GifColor>& table)
{
    const std::size_t entries = std::size_t{2} << colorTableSizeField(table.size());
    for (std::size_t i = 0; i < entries; ++i) {
        const GifColor color = i < table.size() ? table[i] : GifColor{0, 0, 0};
        data += static_cast<char>(color.r);
        data += static_cast<char>(color.g);
        data += static_cast<char>(color.b);
    }
}

GifBuilder& GifBuilder::graphicControl(int delay, int transparentIndex, int blockSize)
{
    data += "\x21\xF9";
    data += static_cast<char>(blockSize);
    data += static_cast<char>(transparentIndex >= 0 ? 1 : 0);
    putLittleEndian16(data, delay);
    data += static_cast<char>(transparentIndex >= 0 ? transparentIndex : 0);
    data.append(static_cast<std::size_t>(blockSize > 4 ? blockSize - 4 : 0), '\0');
    data += '\0';
    return *this;
}

GifBuilder& GifBuilder::loop(int count)
{
    std::string block("\x01", 1);
    putLittleEndian16(block, count);
    return application("NETSCAPE2.0", block);
}

GifBuilder& GifBuilder::application(const std::string& identifier, const std::string& payload)
{
    data += "\x21\xFF";
    data += static_cast<char>(identifier.size());
    data += identifier;
    data += subBlocks(payload);
    return *this;
}

GifBuilder& GifBuilder::comment(const std::string& text)
{
    data += "\x21\xFE";
    data += subBlocks(text);
    return *this;
}

GifBuilder& GifBuilder::image(const GifImage& image)
{
    const std::vector<uint8_t> stored =
        image.interlaced ? interlaceRows(image.indices, image.width, image.height) : image.indices;
    data += '\x2C';
    putLittleEndian16(data, image.left);
    putLittleEndian16(data, image.top);
    putLittleEndian16(data, image.width);
    putLittleEndian16(data, image.height);
    int packed = image.interlaced ? 0x40 : 0;
    if (!image.localTable.empty())
        packed |= 0x80 | colorTableSizeField(image.localTable.size());
    data += static_cast<char>(packed);
    if (!image.localTable.empty())
        colorTable(image.localTable);
    data += static_cast<char>(image.minCodeSize);
    data += subBlocks(lzwEncode(stored, image.minCodeSize));
    return *this;
}

GifBuilder& GifBuilder::rawImage(int left, int top, int width, int height, int minCodeSize,
                                 const std::string& codeStream)
{
    data += '\x2C';
    putLittleEndian16(data, left);
    putLittleEndian16(data, top);
    putLittleEndian16(data, width);
    putLittleEndian16(data, height);
    data += '\0';
    data += static_cast<char>(minCodeSize);
    data += subBlocks(codeStream);
    return *this;
}

GifBuilder& GifBuilder::raw(const std::string& bytes)
{
    data += bytes;
    return *this;
}

GifBuilder& GifBuilder::trailer()
{
    data += '\x3B';
    return *this;
}

} // namespace Spectrafox::Test
