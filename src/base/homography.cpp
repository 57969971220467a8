#include "base/homography.h"

#include <cmath>

namespace Spectrafox {

namespace {

constexpr double kDegenerate = 1e-12;

} // namespace

// The closed form for a square onto a quadrilateral: the affine part plus
// the two perspective terms g and h, which vanish for a parallelogram.
bool Homography::squareToQuad(const std::array<Point, 4>& c, Homography* out)
{
    const double dx1 = c[1].x - c[2].x, dx2 = c[3].x - c[2].x;
    const double dy1 = c[1].y - c[2].y, dy2 = c[3].y - c[2].y;
    const double sx = c[0].x - c[1].x + c[2].x - c[3].x;
    const double sy = c[0].y - c[1].y + c[2].y - c[3].y;
    const double det = dx1 * dy2 - dx2 * dy1;
    if (std::fabs(det) < kDegenerate)
        return false;
    const double g = (sx * dy2 - dx2 * sy) / det;
    const double h = (dx1 * sy - sx * dy1) / det;
    *out = Homography({c[1].x - c[0].x + g * c[1].x, c[3].x - c[0].x + h * c[3].x, c[0].x,
                       c[1].y - c[0].y + g * c[1].y, c[3].y - c[0].y + h * c[3].y, c[0].y,
                       g, h, 1.0});
    return true;
}

bool Homography::inverted(Homography* out) const
{
    const Matrix& m = matrix;
    const Matrix adjugate{m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
                          m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
                          m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
    const double det = m[0] * adjugate[0] + m[1] * adjugate[3] + m[2] * adjugate[6];
    if (std::fabs(det) < kDegenerate)
        return false;
    Matrix inverse;
    for (int i = 0; i < 9; ++i)
        inverse[i] = adjugate[i] / det;
    *out = Homography(inverse);
    return true;
}

Homography::Point Homography::map(Point p) const
{
    const Matrix& m = matrix;
    const double w = m[6] * p.x + m[7] * p.y + m[8];
    return {(m[0] * p.x + m[1] * p.y + m[2]) / w, (m[3] * p.x + m[4] * p.y + m[5]) / w};
}

} // namespace Spectrafox
