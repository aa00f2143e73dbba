#include "quillon/config/geometry/point.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <sstream>

namespace quillon
{

float squaredDistance(Point a, Point b)
{
    return squaredLength({a.x - b.x, a.y - b.y});
}

float distance(Point a, Point b)
{
    return std::sqrt(squaredDistance(a, b));
}

float squaredLength(Point v)
{
    return v.x * v.x + v.y * v.y;
}

float length(Point v)
{
    return std::sqrt(squaredLength(v));
}

std::string toString(Point p)
{
    std::ostringstream out;
    out << p;
    return out.str();
}

std::ostream& operator<<(std::ostream& out, Point p)
{
    return out << "{x: " << p.x << ", y: " << p.y << "}";
}

namespace
{

constexpr double kTolerance = 1e-5;

bool withinRange(double v, double a, double b)
{
    return v >= std::min(a, b) - kTolerance && v <= std::max(a, b) + kTolerance;
}

} // namespace

bool segmentsCross(Point a1, Point a2, Point b1, Point b2)
{
    // Each line as A x + B y = C.
    const double aA = double(a2.y) - a1.y;
    const double aB = double(a1.x) - a2.x;
    const double bA = double(b2.y) - b1.y;
    const double bB = double(b1.x) - b2.x;
    const double det = aA * bB - bA * aB;
    if (std::fabs(det) < kTolerance)
        return false;
    const double aC = aA * a1.x + aB * a1.y;
    const double bC = bA * b1.x + bB * b1.y;
    const double x = (bB * aC - aB * bC) / det;
    const double y = (aA * bC - bA * aC) / det;
    return withinRange(x, a1.x, a2.x) && withinRange(y, a1.y, a2.y) && withinRange(x, b1.x, b2.x) &&
           withinRange(y, b1.y, b2.y);
}

} // namespace quillon
