#include "platform/fixed_function/yuv_texture.h"

#include "platform/fixed_function/fixed_function_pipeline.h"
#include "platform/fixed_function/gl_fixed_function.h"

#include <cstring>

namespace Spectrafox {

namespace {

int chromaSize(int luma_size)
{
    return (luma_size + 1) / 2;
}

// Cb and Cr side by side. The planes never overlap: said, so that the
// compiler turns the loop into a few vector instructions (CMakeLists.txt
// lets it weigh that for this file), a third of a 1080p picture's upload.
void interleave(const uint8_t* __restrict cb, const uint8_t* __restrict cr, int count,
                uint8_t* __restrict out)
{
    for (int i = 0; i < count; ++i) {
        out[2 * i] = cb[i];
        out[2 * i + 1] = cr[i];
    }
}

// Column-major matrix from Y' Cb' Cr' (Y' 0..1, C' -0.5..0.5) to R G B.
void fillMatrix(YuvMatrix matrix, float y_scale, float c_scale, float* out)
{
    const float kr = matrix == YuvMatrix::Bt709 ? 0.2126f : 0.299f;
    const float kb = matrix == YuvMatrix::Bt709 ? 0.0722f : 0.114f;
    const float kg = 1.0f - kr - kb;
    const float columns[9] = {1, 1, 1,
                              0, -2 * kb * (1 - kb) / kg, 2 * (1 - kb),
                              2 * (1 - kr), -2 * kr * (1 - kr) / kg, 0};
    for (int k = 0; k < 9; ++k)
        out[k] = columns[k] * (k < 3 ? y_scale : c_scale);
}

} // namespace

bool YuvSampling::operator==(const YuvSampling& o) const
{
    return std::memcmp(this, &o, sizeof(YuvSampling)) == 0;
}

YuvSampling YuvTexture::samplingFor(YuvColour colour, int height)
{
    YuvSampling s;
    // Sited as libswscale sites it when converting to RGB, so a picture
    // looks the same either way: across, the chroma samples spread evenly
    // over the width (the texture coordinate as it is); down, chroma row j
    // falls on luma row 2j + 1, counted from the top (the rows' order here).
    const float chroma_height = static_cast<float>(chromaSize(height));
    s.chroma_scale[1] = static_cast<float>(height) / (2 * chroma_height);
    s.chroma_offset[1] = -0.25f / chroma_height;
    const bool full = colour.range == YuvRange::Full;
    s.offset[0] = full ? 0.0f : 16.0f / 255.0f;
    s.offset[1] = s.offset[2] = 128.0f / 255.0f;
    fillMatrix(colour.matrix, full ? 1.0f : 255.0f / 219.0f, full ? 1.0f : 255.0f / 224.0f,
               s.matrix);
    return s;
}

YuvTexture::~YuvTexture()
{
    release();
}

void YuvTexture::release()
{
    if (textures[0] != 0)
        glDeleteTextures(2, textures);
    for (GLuint& texture : textures)
        texture = 0;
    width_ = height_ = 0;
}

bool YuvTexture::upload(const YuvPlanes& planes, YuvColour colour, int max_size)
{
    const bool semi_planar = planes.layout == YuvLayout::SemiPlanar;
    if (planes.width <= 0 || planes.height <= 0 || planes.width > max_size ||
        planes.height > max_size || planes.data[0] == nullptr || planes.data[1] == nullptr ||
        (!semi_planar && planes.data[2] == nullptr))
        return false;
    const bool fresh = textures[0] == 0 || planes.width != width_ || planes.height != height_;
    if (fresh)
        allocate(planes);
    sampling = samplingFor(colour, height_);
    sampling.chroma = textures[1];
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    uploaded_bytes = uploadLuma(planes, fresh) + uploadChroma(planes, fresh);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    return true;
}

void YuvTexture::allocate(const YuvPlanes& planes)
{
    if (textures[0] == 0)
        glGenTextures(2, textures);
    width_ = planes.width;
    height_ = planes.height;
    for (GLuint texture : textures) {
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
}

// A plane whose rows lie tight goes to GL as it is; one with line padding is
// first copied into one tight block, so each plane goes in one call.
size_t YuvTexture::uploadLuma(const YuvPlanes& planes, bool fresh)
{
    const size_t row_bytes = static_cast<size_t>(width_);
    const uint8_t* rows = planes.data[0];
    if (planes.linesize[0] != width_) {
        staging.resize(row_bytes * height_);
        for (int row = 0; row < height_; ++row)
            std::memcpy(staging.data() + row_bytes * row,
                        planes.data[0] + static_cast<ptrdiff_t>(planes.linesize[0]) * row, row_bytes);
        rows = staging.data();
    }
    uploadPlane(textures[0], GL_LUMINANCE, width_, height_, rows, fresh);
    return row_bytes * height_;
}

// Cb and Cr side by side: NV12 as it is, planar chroma interleaved.
size_t YuvTexture::uploadChroma(const YuvPlanes& planes, bool fresh)
{
    const int columns = chromaSize(width_);
    const int rows = chromaSize(height_);
    const size_t row_bytes = static_cast<size_t>(columns) * 2;
    const bool tight_nv12 = planes.layout == YuvLayout::SemiPlanar &&
                            planes.linesize[1] == static_cast<int>(row_bytes);
    if (tight_nv12) {
        uploadPlane(textures[1], GL_LUMINANCE_ALPHA, columns, rows, planes.data[1], fresh);
        return row_bytes * rows;
    }
    staging.resize(row_bytes * rows);
    for (int row = 0; row < rows; ++row) {
        uint8_t* out = staging.data() + row_bytes * row;
        const uint8_t* cb = planes.data[1] + static_cast<ptrdiff_t>(planes.linesize[1]) * row;
        if (planes.layout == YuvLayout::SemiPlanar) {
            std::memcpy(out, cb, row_bytes);
            continue;
        }
        const uint8_t* cr = planes.data[2] + static_cast<ptrdiff_t>(planes.linesize[2]) * row;
        interleave(cb, cr, columns, out);
    }
    uploadPlane(textures[1], GL_LUMINANCE_ALPHA, columns, rows, staging.data(), fresh);
    return row_bytes * rows;
}

void YuvTexture::uploadPlane(GLuint texture, GLenum format, int columns, int rows,
                             const uint8_t* data, bool fresh)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    if (fresh)
        glTexImage2D(GL_TEXTURE_2D, 0, format, columns, rows, 0, format, GL_UNSIGNED_BYTE, data);
    else
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, columns, rows, format, GL_UNSIGNED_BYTE, data);
}

void YuvTexture::bind() const
{
    if (textures[0] != 0)
        FixedFunctionPipeline::instance().bindYuvTexture(textures[0], sampling);
}

} // namespace Spectrafox
