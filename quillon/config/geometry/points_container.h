#pragma once

#include <cfloat>
#include <cstddef>
#include <vector>

#include "quillon/config/geometry/point.h"

namespace quillon
{

class Polygon;
class Polyline;

// Axis-aligned bounds of a point list; inverted (FLT_MAX, -FLT_MAX) when empty.
struct BoundingBox {
    float minX = FLT_MAX;
    float minY = FLT_MAX;
    float maxX = -FLT_MAX;
    float maxY = -FLT_MAX;

    bool operator==(const BoundingBox&) const = default;
};

// A list of points with its bounding box. The points change only through
// the setters, which keep the box in step with them. Polygon (closed) and
// Polyline (open) add no data; the polygon tests below treat this container
// as a closed ring.
class PointsContainer
{
public:
    PointsContainer() = default;
    explicit PointsContainer(std::vector<Point> points);
    virtual ~PointsContainer() = default;

    PointsContainer(const PointsContainer&) = default;
    PointsContainer(PointsContainer&&) = default;
    PointsContainer& operator=(const PointsContainer&) = default;
    PointsContainer& operator=(PointsContainer&&) = default;

    const std::vector<Point>& points() const { return points_; }
    std::size_t size() const { return points_.size(); }
    bool empty() const { return points_.empty(); }
    const Point& operator[](std::size_t i) const { return points_[i]; }
    const BoundingBox& boundingBox() const { return box_; }

    void setPoints(std::vector<Point> points);
    void addPoint(Point p);
    void clear();

    // Crossing test; a polygon of fewer than 3 points contains nothing (and
    // says so in the log).
    bool contains(Point p) const;
    // A vertex of either inside the other, or two edges crossing.
    bool overlaps(const Polygon& other) const;
    // A polyline point inside, or a polyline segment crossing an edge.
    bool crosses(const Polyline& line) const;
    // Every point of the other list inside; false when either is empty.
    bool containsAll(const PointsContainer& other) const;
    // Same points in the same order.
    bool equals(const PointsContainer& other) const;
    // Same closed ring: any starting point, either direction.
    bool equalsRing(const PointsContainer& other) const;
    // Area-weighted centroid; the first point when the area is 0, (0, 0)
    // when empty.
    Point centroid() const;

private:
    bool edgeCrosses(Point a, Point b) const;

    std::vector<Point> points_;
    BoundingBox box_;
};

} // namespace quillon
