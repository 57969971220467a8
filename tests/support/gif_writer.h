#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Spectrafox::Test {

// Packs codes least significant bit first, as GIF code streams are.
class CodeWriter {
public:
    void put(int code, int width);
    std::string bytes() const;

private:
    std::string data;
    uint32_t pending = 0;
    int pendingBits = 0;
};

// A plain GIF LZW encoder. With clearWhenFull false it keeps coding with a
// full 4096-cell table instead of sending a clear code. With clearAtEnd it
// sends a clear code right before the end code, as some encoders do.
std::string lzwEncode(const std::vector<uint8_t>& indices, int minCodeSize, bool clearWhenFull = true,
                      bool clearAtEnd = false);

// Rows of a natural-order image in the order an interlaced GIF stores them.
std::vector<uint8_t> interlaceRows(const std::vector<uint8_t>& indices, int width, int height);

struct GifColor {
    uint8_t r, g, b;
};

struct GifImage {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> indices; // natural row order
    std::vector<GifColor> localTable; // empty: none
    bool interlaced = false;
    int minCodeSize = 8;
};

// A width x height image of the one colour index, with the smallest code size.
GifImage solidImage(int width, int height, uint8_t index);

// Builds a GIF file block by block.
class GifBuilder {
public:
    GifBuilder(int width, int height, const std::vector<GifColor>& globalTable = {}, int background = 0,
               const std::string& version = "GIF89a");

    GifBuilder& graphicControl(int delay, int transparentIndex = -1, int blockSize = 4);
    GifBuilder& loop(int count);
    GifBuilder& application(const std::string& identifier, const std::string& data);
    GifBuilder& comment(const std::string& text);
    GifBuilder& image(const GifImage& image);
    // An image whose code stream is given as it is.
    GifBuilder& rawImage(int left, int top, int width, int height, int minCodeSize, const std::string& codeStream);
    GifBuilder& raw(const std::string& bytes);
    GifBuilder& trailer();

    const std::string& bytes() const { return data; }

private:
    void colorTable(const std::vector<GifColor>& table);

    std::string data;
};

// Splits data into sub-blocks of at most 255 bytes, with the terminator.
std::string subBlocks(const std::string& data);

// 2^(n + 1) entries, padded with black, for the smallest n that holds them.
int colorTableSizeField(std::size_t entries);

} // namespace Spectrafox::Test
