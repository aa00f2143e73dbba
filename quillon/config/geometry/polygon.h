#pragma once

#include "quillon/config/geometry/points_container.h"

namespace quillon
{

// A closed ring of points (a zone, an object outline, a frame box).
class Polygon : public PointsContainer
{
public:
    using PointsContainer::PointsContainer;

    // Corners (x1, y1), (x1, y2), (x2, y2), (x2, y1), in that order.
    static Polygon box(float x1, float x2, float y1, float y2);
    // Four points at (0, 0).
    static Polygon defaultPolygon();
    // Box spanning the bounding boxes of both.
    static Polygon unionBox(const Polygon& a, const Polygon& b);
    // Box around the centroid, its bounding box's size scaled by f (or by fx
    // and fy).
    static Polygon centreBox(const Polygon& p, float f);
    static Polygon centreBox(const Polygon& p, float fx, float fy);
};

} // namespace quillon
