#include "support/picture_files.h"

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

} // namespace

void declarePngSize(const std::string& path, int width, int height)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char ihdr[17]; // the chunk's type and data, which its CRC covers
    file.seekg(12).read(reinterpret_cast<char*>(ihdr), sizeof ihdr);
    for (int i = 0; i < 8; ++i)
        ihdr[4 + i] = static_cast<unsigned char>(static_cast<uint32_t>(i < 4 ? width : height) >> (24 - i % 4 * 8));
    const uLong crc = crc32(0, ihdr, sizeof ihdr);
    file.seekp(12).write(reinterpret_cast<const char*>(ihdr), sizeof ihdr);
    for (int i = 0; i < 4; ++i)
        file.put(static_cast<char>(crc >> (24 - 8 * i)));
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
