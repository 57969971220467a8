#include "platform/fixed_function/matrix_stack.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace Spectrafox {
namespace {

struct Point {
    double x, y, z;
};

Point apply(const MatrixStack::Matrix& m, const Point& p)
{
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
            m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
}

// Rodrigues' formula: v cos a + (k x v) sin a + k (k . v)(1 - cos a), k the
// unit axis.
Point rotated(const Point& v, double degrees, Point axis)
{
    const double length = std::sqrt(axis.x * axis.x + axis.y * axis.y + axis.z * axis.z);
    const Point k{axis.x / length, axis.y / length, axis.z / length};
    const double a = degrees * M_PI / 180.0;
    const double dot = k.x * v.x + k.y * v.y + k.z * v.z;
    const Point cross{k.y * v.z - k.z * v.y, k.z * v.x - k.x * v.z, k.x * v.y - k.y * v.x};
    const double c = std::cos(a);
    const double s = std::sin(a);
    return {v.x * c + cross.x * s + k.x * dot * (1 - c), v.y * c + cross.y * s + k.y * dot * (1 - c),
            v.z * c + cross.z * s + k.z * dot * (1 - c)};
}

Point translated(const Point& v, double x, double y, double z)
{
    return {v.x + x, v.y + y, v.z + z};
}

// Each case changes a stack and says, independently, where a point lands:
// the transform named last is applied to the point first.
TEST(MatrixStackTest, TransformsPointsAsGlComposesMatrices)
{
    const struct {
        const char* name;
        std::function<void(MatrixStack&)> ops;
        std::function<Point(Point)> expected;
    } cases[] = {
        {"translate", [](MatrixStack& s) { s.translate(0.5f, -0.25f, 2.0f); },
         [](Point p) { return translated(p, 0.5, -0.25, 2.0); }},
        {"rotate z counter-clockwise", [](MatrixStack& s) { s.rotate(90.0f, 0, 0, 1); },
         [](Point p) { return Point{-p.y, p.x, p.z}; }},
        {"translate then rotate: rotation about the new origin",
         [](MatrixStack& s) {
             s.translate(0.3f, -0.2f, 0.0f);
             s.rotate(30.0f, 0, 0, 1);
         },
         [](Point p) { return translated(rotated(p, 30, {0, 0, 1}), 0.3, -0.2, 0); }},
        {"rotate then translate: the offset turns too",
         [](MatrixStack& s) {
             s.rotate(90.0f, 0, 0, 1);
             s.translate(0.4f, 0.0f, 0.0f);
         },
         [](Point p) { return rotated(translated(p, 0.4, 0, 0), 90, {0, 0, 1}); }},
        {"axis of any length, any direction", [](MatrixStack& s) { s.rotate(-50.0f, 2, -3, 6); },
         [](Point p) { return rotated(p, -50, {2, -3, 6}); }},
        {"zero axis changes nothing", [](MatrixStack& s) { s.rotate(45.0f, 0, 0, 0); },
         [](Point p) { return p; }},
        {"push, translate, pop restores",
         [](MatrixStack& s) {
             s.translate(0.1f, 0.0f, 0.0f);
             s.push();
             s.translate(5.0f, 5.0f, 5.0f);
             s.rotate(33.0f, 1, 1, 0);
             s.pop();
         },
         [](Point p) { return translated(p, 0.1, 0, 0); }},
        {"multiply by a column-major matrix",
         [](MatrixStack& s) {
             const float m[16] = {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 1, 2, 3, 1};
             s.translate(1.0f, 0.0f, 0.0f);
             s.multiply(m);
         },
         [](Point p) { return Point{2 * p.x + 1 + 1, 3 * p.y + 2, 4 * p.z + 3}; }},
        {"load identity forgets", [](MatrixStack& s) {
             s.translate(3.0f, 3.0f, 3.0f);
             s.loadIdentity();
         },
         [](Point p) { return p; }},
    };
    const Point probes[] = {{0, 0, 0}, {1, 0, 0}, {-0.25, 0.75, 0}, {0.5, -0.5, 1}};
    for (const auto& c : cases) {
        MatrixStack stack;
        c.ops(stack);
        for (const Point& p : probes) {
            const Point got = apply(stack.top(), p);
            const Point want = c.expected(p);
            EXPECT_NEAR(got.x, want.x, 1e-5) << c.name;
            EXPECT_NEAR(got.y, want.y, 1e-5) << c.name;
            EXPECT_NEAR(got.z, want.z, 1e-5) << c.name;
        }
    }
}

TEST(MatrixStackTest, DepthIsBoundedAndTheLastMatrixStays)
{
    MatrixStack stack;
    EXPECT_FALSE(stack.pop()) << "the last matrix cannot be popped";
    EXPECT_EQ(stack.depth(), 1);
    EXPECT_EQ(stack.top(), MatrixStack::identity());

    int pushed = 0;
    for (int i = 0; i < MatrixStack::kMaxDepth + 8; ++i) {
        pushed += stack.push() ? 1 : 0;
        stack.translate(1.0f, 0.0f, 0.0f);
    }
    EXPECT_EQ(pushed, MatrixStack::kMaxDepth - 1);
    EXPECT_EQ(stack.depth(), MatrixStack::kMaxDepth);
    // Translations after the stack filled all landed on the top matrix.
    EXPECT_FLOAT_EQ(stack.top()[12], float(MatrixStack::kMaxDepth + 8));

    int popped = 0;
    for (int i = 0; i < MatrixStack::kMaxDepth + 8; ++i)
        popped += stack.pop() ? 1 : 0;
    EXPECT_EQ(popped, MatrixStack::kMaxDepth - 1);
    EXPECT_EQ(stack.top(), MatrixStack::identity()) << "the bottom matrix was never touched";

    stack.translate(2.0f, 0.0f, 0.0f);
    stack.push();
    stack.reset();
    EXPECT_EQ(stack.depth(), 1);
    EXPECT_EQ(stack.top(), MatrixStack::identity());
}

} // namespace
} // namespace Spectrafox
