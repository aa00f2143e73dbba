#include "quillon/config/geometry/polygon.h"

#include <algorithm>

namespace quillon
{

Polygon Polygon::box(float x1, float x2, float y1, float y2)
{
    return Polygon({{x1, y1}, {x1, y2}, {x2, y2}, {x2, y1}});
}

Polygon Polygon::defaultPolygon()
{
    return Polygon(std::vector<Point>(4, Point{}));
}

Polygon Polygon::unionBox(const Polygon& a, const Polygon& b)
{
    if (a.empty() && b.empty())
        return {};
    const BoundingBox& ba = a.boundingBox();
    const BoundingBox& bb = b.boundingBox();
    return box(std::min(ba.minX, bb.minX), std::max(ba.maxX, bb.maxX), std::min(ba.minY, bb.minY),
               std::max(ba.maxY, bb.maxY));
}

Polygon Polygon::centreBox(const Polygon& p, float f)
{
    return centreBox(p, f, f);
}

Polygon Polygon::centreBox(const Polygon& p, float fx, float fy)
{
    if (p.empty())
        return {};
    const Point c = p.centroid();
    const BoundingBox& b = p.boundingBox();
    const float halfW = (b.maxX - b.minX) * fx / 2.0f;
    const float halfH = (b.maxY - b.minY) * fy / 2.0f;
    return box(c.x - halfW, c.x + halfW, c.y - halfH, c.y + halfH);
}

} // namespace quillon
