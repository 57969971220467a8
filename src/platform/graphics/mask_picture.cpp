#include "platform/graphics/mask_picture.h"

#include "base/regular_file.h"

#include <stb_image.h>

#include <climits>

namespace Spectrafox {

namespace {

// Far beyond any output; keeps a huge file from being read whole.
constexpr size_t kMostMaskBytes = 64u << 20;

uint8_t luminance(const uint8_t* rgb)
{
    // Rec. 709 weights, rounded.
    return static_cast<uint8_t>((2126 * rgb[0] + 7152 * rgb[1] + 722 * rgb[2] + 5000) / 10000);
}

} // namespace

bool MaskPicture::load(const std::string& path, MaskPicture* out, std::string* why)
{
    std::vector<unsigned char> bytes;
    if (!RegularFile::readAll(path, kMostMaskBytes, &bytes)) {
        *why = "cannot be read (missing, empty, too large or not a regular file)";
        return false;
    }
    int width = 0, height = 0, channels = 0;
    unsigned char* rgba = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width,
                                                &height, &channels, 4);
    if (!rgba) {
        *why = std::string("is not a picture that decodes (") + stbi_failure_reason() + ")";
        return false;
    }
    const bool has_alpha = channels == 2 || channels == 4;
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    out->width = width;
    out->height = height;
    out->values.resize(pixels);
    for (size_t i = 0; i < pixels; ++i)
        out->values[i] = has_alpha ? rgba[i * 4 + 3] : luminance(rgba + i * 4);
    stbi_image_free(rgba);
    return true;
}

} // namespace Spectrafox
