#pragma once

#include <iosfwd>
#include <string>

namespace quillon
{

// A point or a 2-D vector: picture, device or pan/tilt coordinates
// (x = pan, y = tilt) depending on where it is used.
struct Point {
    float x = 0.0f;
    float y = 0.0f;

    bool operator==(const Point&) const = default;
};

float squaredDistance(Point a, Point b);
float distance(Point a, Point b);
float squaredLength(Point v);
float length(Point v);

// "{x: 0.5, y: 0.25}"
std::string toString(Point p);
std::ostream& operator<<(std::ostream& out, Point p);

// Whether segment a1-a2 crosses segment b1-b2. Nearly parallel segments
// (determinant below 1e-5) never cross; the intersection must lie within both
// segments' coordinate ranges, each bound widened by 1e-5.
bool segmentsCross(Point a1, Point a2, Point b1, Point b2);

} // namespace quillon
