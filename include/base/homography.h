#pragma once

#include <array>

namespace Spectrafox {

// A plane's perspective mapping, as a projector's keystone is: straight lines
// stay straight. Points are (x, y) pairs; the matrix is row-major 3x3 and
// maps (x, y, 1) to homogeneous coordinates.
class Homography {
public:
    struct Point {
        double x = 0.0, y = 0.0;
        bool operator==(const Point& o) const { return x == o.x && y == o.y; }
        bool operator!=(const Point& o) const { return !(*this == o); }
    };
    using Matrix = std::array<double, 9>;

    Homography() = default;
    explicit Homography(const Matrix& m) : matrix(m) {}

    // The mapping of the unit square's corners (0,0), (1,0), (1,1), (0,1) onto
    // the four given points, in that order. False for a degenerate
    // quadrilateral (three corners on a line).
    static bool squareToQuad(const std::array<Point, 4>& corners, Homography* out);
    // False when the mapping cannot be inverted.
    bool inverted(Homography* out) const;
    Point map(Point p) const;
    const Matrix& values() const { return matrix; }

private:
    Matrix matrix{1, 0, 0, 0, 1, 0, 0, 0, 1};
};

} // namespace Spectrafox
