#pragma once

#include <GLES2/gl2.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Spectrafox {

enum class YuvMatrix { Bt601, Bt709 };
// Limited: luma 16-235, chroma 16-240; full: 0-255 (the "J" formats).
enum class YuvRange { Limited, Full };

struct YuvColour {
    YuvMatrix matrix = YuvMatrix::Bt601;
    YuvRange range = YuvRange::Limited;
    bool operator==(const YuvColour& o) const { return matrix == o.matrix && range == o.range; }
};

// 8-bit 4:2:0 in one of the two layouts decoders give: three planes
// (YUV420P) or luma and interleaved Cb Cr (NV12). Row 0 is the top row;
// chroma planes are ceil(width / 2) x ceil(height / 2) samples, sited as
// MPEG-2 sites them: beside the even luma columns, between the luma rows.
enum class YuvLayout { Planar, SemiPlanar };

struct YuvPlanes {
    YuvLayout layout = YuvLayout::Planar;
    int width = 0;
    int height = 0;
    const uint8_t* data[3] = {nullptr, nullptr, nullptr};
    int linesize[3] = {0, 0, 0};
};

// What the fixed-function layer needs to sample a YUV texture: the chroma
// texture (Cb in luminance, Cr in alpha) and how to turn the samples into
// RGB.
struct YuvSampling {
    GLuint chroma = 0;
    float chroma_scale[2] = {1, 1};
    float chroma_offset[2] = {0, 0};
    float offset[3] = {0, 0, 0};                 // subtracted from Y Cb Cr
    float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}; // column-major, to RGB
    bool operator==(const YuvSampling& o) const;
};

// A picture held as luma and interleaved chroma (1.5 bytes a pixel: three
// planes are interleaved while copied, so a draw samples two textures, not
// three) and converted to RGB when drawn: bound, it stands where a 2-D
// texture stands, with the same tint, alpha and blending, and the video
// path's texture coordinates (v = 0 at the picture's bottom). Planes are
// kept top row first, as decoders give them, so a tight luma plane (and an
// NV12 chroma plane) goes to GL without a copy.
//
// Only the main thread's context, like the rest of the layer.
class YuvTexture {
public:
    YuvTexture() = default;
    ~YuvTexture();
    YuvTexture(const YuvTexture&) = delete;
    YuvTexture& operator=(const YuvTexture&) = delete;

    // Replaces the picture. Same size: the textures are updated in
    // place; otherwise they are made anew. False, keeping the last picture,
    // for a picture without planes or a size beyond `max_size` texels.
    bool upload(const YuvPlanes& planes, YuvColour colour, int max_size);
    // Makes this picture what textured draws sample; a later glBindTexture
    // of GL_TEXTURE_2D ends that.
    void bind() const;
    // Deletes the planes (the context must be current).
    void release();

    int width() const { return width_; }
    int height() const { return height_; }
    // Bytes handed to GL by the last upload.
    size_t uploadedBytes() const { return uploaded_bytes; }

    static YuvSampling samplingFor(YuvColour colour, int height);

private:
    void allocate(const YuvPlanes& planes);
    size_t uploadLuma(const YuvPlanes& planes, bool fresh);
    size_t uploadChroma(const YuvPlanes& planes, bool fresh);
    void uploadPlane(GLuint texture, GLenum format, int columns, int rows, const uint8_t* data,
                     bool fresh);

    GLuint textures[2] = {0, 0}; // luma, chroma
    int width_ = 0;
    int height_ = 0;
    YuvSampling sampling;
    size_t uploaded_bytes = 0;
    std::vector<uint8_t> staging;
};

} // namespace Spectrafox
