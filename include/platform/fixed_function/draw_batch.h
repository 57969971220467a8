#pragma once

#include "platform/fixed_function/matrix_stack.h"

#include <GLES2/gl2.h>

#include <vector>

namespace Spectrafox {

// One client array as the drawing code last described it.
struct ClientArray {
    bool enabled = false;
    GLint size = 4;
    GLenum type = GL_FLOAT;
    GLsizei stride = 0;
    const void* pointer = nullptr;
};

// What a draw reads besides the matrices: the three client arrays and the
// colour that stands in while the colour array is off.
struct DrawSource {
    ClientArray position;
    ClientArray color;
    ClientArray texcoord;
    float current_color[4] = {1.0f, 1.0f, 1.0f, 1.0f};
};

// Triangle-strip draws of one texture and state, gathered into one indexed
// triangle list whose positions are already transformed into clip space, so
// that the matrices may change between the draws. The strips are cut into
// triangles in the order the rasteriser cuts a strip, (0 1 2), (2 1 3), ...,
// so each triangle is rasterised as it was drawn alone. Storage is reserved
// once: a strip that does not fit is drawn after the batch is flushed.
class DrawBatch {
public:
    // Indices are 16-bit, as ES 2.0 guarantees.
    static constexpr GLsizei kMaxVertices = 16384;
    static constexpr GLsizei kMaxIndices = 3 * kMaxVertices;

    DrawBatch();

    // False for draws that are drawn on their own: other modes, byte
    // colours, positions of other types, texturing without coordinates.
    static bool accepts(GLenum mode, GLsizei count, const DrawSource& source, bool texturing);
    bool empty() const { return vertex_count == 0; }
    bool fits(GLsizei strip_count) const;

    void addStrip(const DrawSource& source, GLint first, GLsizei count,
                  const MatrixStack::Matrix& mvp, bool texturing);
    // Points the attributes at the batch, draws it and empties it; the
    // caller gives the attributes back to the client arrays afterwards.
    void draw(GLuint position_attribute, GLuint color_attribute, GLuint texcoord_attribute);
    void clear();

private:
    void addVertex(const DrawSource& source, GLint index, const MatrixStack::Matrix& mvp,
                   bool texturing);

    std::vector<float> positions; // x y z w
    std::vector<float> colors;    // r g b a
    std::vector<float> texcoords; // s t
    std::vector<GLushort> indices;
    GLsizei vertex_count = 0;
};

} // namespace Spectrafox
