#include "support/picture_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <stb_image.h>
#include <stb_image_write.h>
#include <zlib.h>

#include "support/tmux_session.h"

namespace Spectrafox::Test {

namespace {

void makeParent(const std::string& path)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
}

std::string hexColour(uint32_t rgb)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", rgb & 0xFFFFFFu);
    return text;
}

void appendBigEndian(std::string* out, uint32_t value)
{
    for (int shift : {24, 16, 8, 0})
        out->push_back(static_cast<char>(value >> shift));
}

void appendChunk(std::string* out, const char* type, const std::string& data)
{
    appendBigEndian(out, static_cast<uint32_t>(data.size()));
    const std::string typed = type + data;
    *out += typed;
    appendBigEndian(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.data()),
                                                     static_cast<uInt>(typed.size()))));
}

// Zeros deflated a block at a time: the stream never exists inflated here.
std::string deflatedZeros(uint64_t count)
{
    z_stream stream{};
    deflateInit(&stream, Z_BEST_COMPRESSION);
    static Bytef zeros[1 << 16];
    unsigned char out[1 << 16];
    std::string deflated;
    int result = Z_OK;
    do {
        const uInt now = static_cast<uInt>(std::min<uint64_t>(count, sizeof zeros));
        count -= now;
        stream.next_in = zeros;
        stream.avail_in = now;
        do {
            stream.next_out = out;
            stream.avail_out = sizeof out;
            result = deflate(&stream, count == 0 ? Z_FINISH : Z_NO_FLUSH);
            deflated.append(reinterpret_cast<char*>(out), sizeof out - stream.avail_out);
        } while (stream.avail_out == 0);
    } while (count > 0 || result != Z_STREAM_END);
    deflateEnd(&stream);
    return deflated;
}

} // namespace

void writeInflatingPng(const std::string& path, int width, int height, uint64_t inflated_bytes)
{
    makeParent(path);
    std::string header;
    appendBigEndian(&header, static_cast<uint32_t>(width));
    appendBigEndian(&header, static_cast<uint32_t>(height));
    header += std::string("\x08\x06\x00\x00\x00", 5); // 8 bits, RGBA, not interlaced
    std::string file = "\x89PNG\r\n\x1a\n";
    appendChunk(&file, "IHDR", header);
    appendChunk(&file, "IDAT", deflatedZeros(inflated_bytes));
    appendChunk(&file, "IEND", "");
    std::ofstream(path, std::ios::binary) << file;
}

void writePng(const std::string& path, int width, int height, const std::vector<uint32_t>& rgba)
{
    makeParent(path);
    std::vector<unsigned char> bytes;
    for (uint32_t pixel : rgba)
        for (int shift : {24, 16, 8, 0})
            bytes.push_back(static_cast<unsigned char>(pixel >> shift));
    stbi_write_png(path.c_str(), width, height, 4, bytes.data(), width * 4);
}

void writeSolidPng(const std::string& path, int width, int height, uint32_t rgba)
{
    writePng(path, width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, rgba));
}

bool writeSolidGif(const std::string& path, int width, int height,
                   const std::vector<std::pair<uint32_t, int>>& frames)
{
    makeParent(path);
    std::string command = "convert";
    for (const auto& [colour, delay] : frames)
        command += " -delay " + std::to_string(delay) + " -size " + std::to_string(width) + "x" +
                   std::to_string(height) + " 'xc:" + hexColour(colour) + "'";
    command += " -loop 0 '" + path + "' 2>&1";
    int status = -1;
    runCommand(command, &status);
    return status == 0;
}

bool writeSolidH264(const std::string& path, int width, int height, const std::string& colour,
                    double seconds)
{
    makeParent(path);
    int status = -1;
    runCommand("ffmpeg -loglevel error -y -f lavfi -i 'color=c=" + colour + ":s=" +
                   std::to_string(width) + "x" + std::to_string(height) +
                   ":r=25:d=" + std::to_string(seconds) +
                   "' -c:v libx264 -pix_fmt yuv420p -f h264 '" + path + "' 2>&1",
               &status);
    return status == 0;
}

int RgbaImage::litPixels() const
{
    int lit = 0;
    for (size_t i = 0; i + 3 < rgba.size(); i += 4)
        lit += rgba[i] != 0 || rgba[i + 1] != 0 || rgba[i + 2] != 0;
    return lit;
}

RgbaImage readRgbaPng(const std::string& path)
{
    RgbaImage image;
    int channels = 0;
    unsigned char* pixels = stbi_load(path.c_str(), &image.width, &image.height, &channels, 4);
    if (!pixels) {
        image.width = image.height = 0;
        return image;
    }
    image.rgba.assign(pixels, pixels + static_cast<size_t>(image.width) * image.height * 4);
    stbi_image_free(pixels);
    return image;
}

} // namespace Spectrafox::Test
