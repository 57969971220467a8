#include "platform/fixed_function/matrix_stack.h"

#include <cmath>

namespace Spectrafox {

namespace {
constexpr double kPi = 3.14159265358979323846;
} // namespace

MatrixStack::MatrixStack()
{
    reset();
}

void MatrixStack::reset()
{
    top_index = 0;
    matrices[0] = identity();
}

MatrixStack::Matrix MatrixStack::identity()
{
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

MatrixStack::Matrix MatrixStack::product(const Matrix& a, const Matrix& b)
{
    Matrix r;
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a[k * 4 + row] * b[column * 4 + k];
            r[column * 4 + row] = sum;
        }
    return r;
}

void MatrixStack::loadIdentity()
{
    matrices[top_index] = identity();
}

void MatrixStack::multiply(const float* matrix)
{
    Matrix m;
    for (int i = 0; i < 16; ++i)
        m[i] = matrix[i];
    matrices[top_index] = product(matrices[top_index], m);
}

void MatrixStack::translate(float x, float y, float z)
{
    // Only the last column changes: top * T(x, y, z).
    Matrix& m = matrices[top_index];
    for (int row = 0; row < 4; ++row)
        m[12 + row] += m[row] * x + m[4 + row] * y + m[8 + row] * z;
}

void MatrixStack::rotate(float degrees, float x, float y, float z)
{
    const float length = std::sqrt(x * x + y * y + z * z);
    if (length == 0.0f)
        return;
    x /= length;
    y /= length;
    z /= length;
    const double radians = static_cast<double>(degrees) * kPi / 180.0;
    const float c = static_cast<float>(std::cos(radians));
    const float s = static_cast<float>(std::sin(radians));
    const float t = 1.0f - c;
    const float r[16] = {x * x * t + c,     y * x * t + z * s, x * z * t - y * s, 0,
                         x * y * t - z * s, y * y * t + c,     y * z * t + x * s, 0,
                         x * z * t + y * s, y * z * t - x * s, z * z * t + c,     0,
                         0,                 0,                 0,                 1};
    multiply(r);
}

bool MatrixStack::push()
{
    if (top_index + 1 >= kMaxDepth)
        return false;
    matrices[top_index + 1] = matrices[top_index];
    ++top_index;
    return true;
}

bool MatrixStack::pop()
{
    if (top_index == 0)
        return false;
    --top_index;
    return true;
}

} // namespace Spectrafox
