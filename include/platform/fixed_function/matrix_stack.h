#pragma once

#include <array>

namespace Spectrafox {

// One matrix stack of the fixed-function pipeline: 4x4 float matrices in
// GL's column-major order, the top one being the current matrix. Every
// operation multiplies on the right, as GL does, so the last transform named
// is the first applied to a vertex. A push on a full stack and a pop of the
// last matrix are ignored (GL would only raise a stack error).
class MatrixStack {
public:
    using Matrix = std::array<float, 16>;
    // At least what GL ES 1.1 guarantees for model-view (16).
    static constexpr int kMaxDepth = 32;

    MatrixStack();
    // One identity matrix, as in a fresh context.
    void reset();

    void loadIdentity();
    void multiply(const float* matrix);
    void translate(float x, float y, float z);
    // Counter-clockwise by `degrees` about the axis (x, y, z), which need not
    // be of unit length; a zero axis leaves the matrix as it is.
    void rotate(float degrees, float x, float y, float z);
    // False, changing nothing, when the stack is full.
    bool push();
    // False, changing nothing, when only one matrix is left.
    bool pop();

    const Matrix& top() const { return matrices[top_index]; }
    int depth() const { return top_index + 1; }

    static Matrix identity();
    // a * b, both column-major.
    static Matrix product(const Matrix& a, const Matrix& b);

private:
    std::array<Matrix, kMaxDepth> matrices;
    int top_index = 0;
};

} // namespace Spectrafox
