#include "platform/fixed_function/draw_batch.h"

#include <cstddef>

namespace Spectrafox {

namespace {

// Indices of the triangles of a strip of n vertices, three each.
GLsizei indicesOf(GLsizei count)
{
    return count < 3 ? 0 : (count - 2) * 3;
}

const float* element(const ClientArray& array, GLint index)
{
    const GLsizei stride =
        array.stride != 0 ? array.stride : static_cast<GLsizei>(array.size * sizeof(float));
    return reinterpret_cast<const float*>(static_cast<const char*>(array.pointer) +
                                          static_cast<long>(index) * stride);
}

bool isFloatArray(const ClientArray& array, GLint min_size, GLint max_size)
{
    return array.pointer != nullptr && array.type == GL_FLOAT && array.size >= min_size &&
           array.size <= max_size;
}

} // namespace

DrawBatch::DrawBatch()
{
    positions.reserve(static_cast<std::size_t>(kMaxVertices) * 4);
    colors.reserve(static_cast<std::size_t>(kMaxVertices) * 4);
    texcoords.reserve(static_cast<std::size_t>(kMaxVertices) * 2);
    indices.reserve(static_cast<std::size_t>(kMaxIndices));
}

bool DrawBatch::accepts(GLenum mode, GLsizei count, const DrawSource& source, bool texturing)
{
    if (mode != GL_TRIANGLE_STRIP || count < 3 || count > kMaxVertices)
        return false;
    if (!source.position.enabled || !isFloatArray(source.position, 2, 4))
        return false;
    if (source.color.enabled && !isFloatArray(source.color, 4, 4))
        return false;
    return !texturing || (source.texcoord.enabled && isFloatArray(source.texcoord, 2, 4));
}

bool DrawBatch::fits(GLsizei strip_count) const
{
    return vertex_count + strip_count <= kMaxVertices &&
           static_cast<GLsizei>(indices.size()) + indicesOf(strip_count) <= kMaxIndices;
}

void DrawBatch::addStrip(const DrawSource& source, GLint first, GLsizei count,
                         const MatrixStack::Matrix& mvp, bool texturing)
{
    const GLsizei base = vertex_count;
    for (GLint i = 0; i < count; ++i)
        addVertex(source, first + i, mvp, texturing);
    for (GLint i = 0; i + 2 < count; ++i) {
        const GLint odd = i & 1;
        for (const GLint k : {i + odd, i + 1 - odd, i + 2})
            indices.push_back(static_cast<GLushort>(base + k));
    }
}

void DrawBatch::addVertex(const DrawSource& source, GLint index, const MatrixStack::Matrix& mvp,
                          bool texturing)
{
    const float* p = element(source.position, index);
    const float v[4] = {p[0], p[1], source.position.size > 2 ? p[2] : 0.0f,
                        source.position.size > 3 ? p[3] : 1.0f};
    for (int row = 0; row < 4; ++row)
        positions.push_back(mvp[row] * v[0] + mvp[4 + row] * v[1] + mvp[8 + row] * v[2] +
                            mvp[12 + row] * v[3]);

    const float* c = source.color.enabled ? element(source.color, index) : source.current_color;
    colors.insert(colors.end(), c, c + 4);

    if (texturing) {
        const float* t = element(source.texcoord, index);
        texcoords.insert(texcoords.end(), t, t + 2);
    } else {
        texcoords.insert(texcoords.end(), 2, 0.0f);
    }
    ++vertex_count;
}

void DrawBatch::draw(GLuint position_attribute, GLuint color_attribute,
                     GLuint texcoord_attribute)
{
    const GLuint attributes[3] = {position_attribute, color_attribute, texcoord_attribute};
    const GLint sizes[3] = {4, 4, 2};
    const float* data[3] = {positions.data(), colors.data(), texcoords.data()};
    for (int k = 0; k < 3; ++k) {
        glEnableVertexAttribArray(attributes[k]);
        glVertexAttribPointer(attributes[k], sizes[k], GL_FLOAT, GL_FALSE, 0, data[k]);
    }
    ::glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indices.size()), GL_UNSIGNED_SHORT,
                     indices.data());
    clear();
}

void DrawBatch::clear()
{
    positions.clear();
    colors.clear();
    texcoords.clear();
    indices.clear();
    vertex_count = 0;
}

} // namespace Spectrafox
