#include "network/citp/citp_thumbnails.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include <cstdio>

#include <jpeglib.h>
#include <stb_image.h>
#include <stb_image_write.h>

#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"
#include "platform/media/first_picture.h"

namespace Spectrafox {

namespace {

bool endsWith(const std::string& text, const char* ending)
{
    const std::string tail(ending);
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool decodePng(const std::string& path, std::vector<uint8_t>* rgba, int* width, int* height)
{
    int components = 0;
    unsigned char* pixels = stbi_load(path.c_str(), width, height, &components, 4);
    if (!pixels)
        return false;
    rgba->assign(pixels, pixels + static_cast<size_t>(*width) * static_cast<size_t>(*height) * 4);
    stbi_image_free(pixels);
    return true;
}

bool decodeGifFirstFrame(const std::string& path, std::vector<uint8_t>* rgba, int* width, int* height)
{
    GifAnimationInfo info{};
    GIFLoader loader;
    unsigned char** frames = loader.loadAnimatedGif(path.c_str(), width, height, &info);
    if (!frames)
        return false;
    rgba->assign(frames[0], frames[0] + static_cast<size_t>(*width) * static_cast<size_t>(*height) * 4);
    for (int k = 0; k < info.numberOfImages; ++k)
        free(frames[k]);
    free(frames);
    free(info.delayArray);
    return true;
}

// Baseline JPEG of RGB pixels, at the quality desks' thumbnails need.
bool encodeJpeg(const std::vector<uint8_t>& rgb, int width, int height, std::string* out)
{
    jpeg_compress_struct compressor{};
    jpeg_error_mgr errors{};
    compressor.err = jpeg_std_error(&errors);
    // The library's default on an error is to end the process; nothing we
    // hand it (a size of 1 to 512, three components) can cause one.
    jpeg_create_compress(&compressor);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&compressor, &buffer, &size);
    compressor.image_width = static_cast<JDIMENSION>(width);
    compressor.image_height = static_cast<JDIMENSION>(height);
    compressor.input_components = 3;
    compressor.in_color_space = JCS_RGB;
    jpeg_set_defaults(&compressor);
    jpeg_set_quality(&compressor, 85, TRUE);
    jpeg_start_compress(&compressor, TRUE);
    while (compressor.next_scanline < compressor.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&rgb[static_cast<size_t>(compressor.next_scanline) * width * 3]);
        jpeg_write_scanlines(&compressor, &row, 1);
    }
    jpeg_finish_compress(&compressor);
    out->assign(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&compressor);
    free(buffer);
    return true;
}

void appendToString(void* context, void* data, int size)
{
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(size));
}

// Which version of a file a thumbnail was made of, and how it was asked.
std::string keyOf(const std::string& path, const CitpThumbnails::Ask& ask)
{
    struct stat file {};
    if (stat(path.c_str(), &file) != 0)
        return {};
    return path + '|' + std::to_string(file.st_size) + '|' + std::to_string(file.st_mtim.tv_sec) + '.' +
           std::to_string(file.st_mtim.tv_nsec) + '|' + std::to_string(ask.format) + '|' +
           std::to_string(ask.width) + 'x' + std::to_string(ask.height) + '|' + std::to_string(ask.most_bytes) +
           (ask.keep_aspect ? "a" : "") +
           (ask.bgr ? "b" : "");
}

} // namespace

bool CitpThumbnails::make(const std::string& path, const Ask& ask, MsexThumbnail* out)
{
    if (ask.format != Citp::kFormatPng && ask.format != Citp::kFormatRgb8 && ask.format != Citp::kFormatJpeg)
        return false;
    const std::string key = keyOf(path, ask);
    if (key.empty())
        return false;
    const auto found = kept.find(key);
    if (found != kept.end()) {
        *out = found->second;
        return true;
    }
    std::vector<uint8_t> rgba;
    int width = 0;
    int height = 0;
    if (!decodeFile(path, &rgba, &width, &height) || !encode(rgba, width, height, ask, out))
        return false;
    if (kept.size() >= kMostKept)
        kept.clear();
    kept.emplace(key, *out);
    return true;
}

bool CitpThumbnails::decodeFile(const std::string& path, std::vector<uint8_t>* rgba, int* width, int* height)
{
    if (endsWith(path, ".png"))
        return decodePng(path, rgba, width, height);
    if (endsWith(path, ".gif"))
        return decodeGifFirstFrame(path, rgba, width, height);
    return FirstPicture::decodeRgba(path, rgba, width, height);
}

void CitpThumbnails::fitSize(int width, int height, const Ask& ask, int* to_width, int* to_height)
{
    *to_width = ask.width;
    *to_height = ask.height;
    if (ask.keep_aspect && width > 0 && height > 0) {
        // The side that limits decides; the other follows the picture.
        if (static_cast<int64_t>(ask.width) * height <= static_cast<int64_t>(ask.height) * width)
            *to_height = static_cast<int>((static_cast<int64_t>(ask.width) * height + width / 2) / width);
        else
            *to_width = static_cast<int>((static_cast<int64_t>(ask.height) * width + height / 2) / height);
    }
    *to_width = std::max(1, *to_width);
    *to_height = std::max(1, *to_height);
}

std::vector<uint8_t> CitpThumbnails::boxScale(const uint8_t* rgba, int width, int height, int to_width,
                                              int to_height)
{
    std::vector<uint8_t> rgb(static_cast<size_t>(to_width) * static_cast<size_t>(to_height) * 3);
    for (int y = 0; y < to_height; ++y) {
        const int y0 = static_cast<int>(static_cast<int64_t>(y) * height / to_height);
        const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<int64_t>(y + 1) * height / to_height));
        for (int x = 0; x < to_width; ++x) {
            const int x0 = static_cast<int>(static_cast<int64_t>(x) * width / to_width);
            const int x1 = std::max(x0 + 1, static_cast<int>(static_cast<int64_t>(x + 1) * width / to_width));
            uint64_t sum[3] = {0, 0, 0};
            for (int sy = y0; sy < y1; ++sy)
                for (int sx = x0; sx < x1; ++sx)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += rgba[(static_cast<size_t>(sy) * static_cast<size_t>(width) + sx) * 4 + c];
            const uint64_t area = static_cast<uint64_t>(y1 - y0) * static_cast<uint64_t>(x1 - x0);
            for (int c = 0; c < 3; ++c)
                rgb[(static_cast<size_t>(y) * static_cast<size_t>(to_width) + x) * 3 + c] =
                    static_cast<uint8_t>((sum[c] + area / 2) / area);
        }
    }
    return rgb;
}

// Shrinks by a quarter until the encoded picture fits (a 16-bit buffer size).
bool CitpThumbnails::encode(const std::vector<uint8_t>& rgba, int width, int height, const Ask& ask,
                            MsexThumbnail* out)
{
    int to_width = 0;
    int to_height = 0;
    fitSize(width, height, ask, &to_width, &to_height);
    for (int attempt = 0; attempt < 24; ++attempt) {
        std::vector<uint8_t> rgb = boxScale(rgba.data(), width, height, to_width, to_height);
        std::string bytes;
        if (ask.format == Citp::kFormatRgb8) {
            if (ask.bgr)
                for (size_t k = 0; k + 2 < rgb.size(); k += 3)
                    std::swap(rgb[k], rgb[k + 2]);
            bytes.assign(rgb.begin(), rgb.end());
        } else if (ask.format == Citp::kFormatJpeg) {
            encodeJpeg(rgb, to_width, to_height, &bytes);
        } else if (stbi_write_png_to_func(&appendToString, &bytes, to_width, to_height, 3, rgb.data(),
                                          to_width * 3) == 0) {
            return false;
        }
        if (bytes.size() <= ask.most_bytes) {
            out->format = ask.format;
            out->width = static_cast<uint16_t>(to_width);
            out->height = static_cast<uint16_t>(to_height);
            out->bytes = std::move(bytes);
            return true;
        }
        to_width = std::max(1, to_width * 3 / 4);
        to_height = std::max(1, to_height * 3 / 4);
    }
    return false;
}

} // namespace Spectrafox
