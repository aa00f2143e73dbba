#include "quillon/config/geometry/points_container.h"

#include <algorithm>

#include "quillon/config/geometry/polygon.h"
#include "quillon/config/geometry/polyline.h"
#include "quillon/core/log.h"

namespace quillon
{

namespace
{

BoundingBox boundsOf(const std::vector<Point>& points)
{
    BoundingBox box;
    for (const Point& p : points) {
        box.minX = std::min(box.minX, p.x);
        box.minY = std::min(box.minY, p.y);
        box.maxX = std::max(box.maxX, p.x);
        box.maxY = std::max(box.maxY, p.y);
    }
    return box;
}

} // namespace

PointsContainer::PointsContainer(std::vector<Point> points)
    : points_(std::move(points)), box_(boundsOf(points_))
{
}

void PointsContainer::setPoints(std::vector<Point> points)
{
    points_ = std::move(points);
    box_ = boundsOf(points_);
}

void PointsContainer::addPoint(Point p)
{
    points_.push_back(p);
    box_.minX = std::min(box_.minX, p.x);
    box_.minY = std::min(box_.minY, p.y);
    box_.maxX = std::max(box_.maxX, p.x);
    box_.maxY = std::max(box_.maxY, p.y);
}

void PointsContainer::clear()
{
    points_.clear();
    box_ = BoundingBox{};
}

bool PointsContainer::contains(Point p) const
{
    const std::size_t n = points_.size();
    if (n < 1) {
        quillonLog(LOG_WARNING, "Polygon empty\n");
        return false;
    }
    if (n < 3) {
        quillonLog(LOG_WARNING, "Polygon size %u\n", unsigned(n));
        return false;
    }
    // Toggle for every edge whose x-range (xl, xr] holds p.x and whose line
    // passes through or above p (in y). Vertical edges have an empty range.
    bool inside = false;
    Point prev = points_[n - 1];
    for (const Point& cur : points_) {
        const Point& l = prev.x <= cur.x ? prev : cur;
        const Point& r = prev.x <= cur.x ? cur : prev;
        if (l.x < p.x && p.x <= r.x && (p.y - l.y) * (r.x - l.x) <= (r.y - l.y) * (p.x - l.x))
            inside = !inside;
        prev = cur;
    }
    return inside;
}

bool PointsContainer::edgeCrosses(Point a, Point b) const
{
    const std::size_t n = points_.size();
    if (n < 2)
        return false;
    Point prev = points_[n - 1];
    for (const Point& cur : points_) {
        if (segmentsCross(a, b, prev, cur))
            return true;
        prev = cur;
    }
    return false;
}

bool PointsContainer::overlaps(const Polygon& other) const
{
    if (empty() || other.empty())
        return false;
    for (const Point& p : other.points_)
        if (contains(p))
            return true;
    for (const Point& p : points_)
        if (other.contains(p))
            return true;
    const std::size_t n = other.points_.size();
    if (n < 2)
        return false;
    Point prev = other.points_[n - 1];
    for (const Point& cur : other.points_) {
        if (edgeCrosses(prev, cur))
            return true;
        prev = cur;
    }
    return false;
}

bool PointsContainer::crosses(const Polyline& line) const
{
    if (empty() || line.empty())
        return false;
    for (const Point& p : line.points_)
        if (contains(p))
            return true;
    for (std::size_t i = 1; i < line.points_.size(); ++i)
        if (edgeCrosses(line.points_[i - 1], line.points_[i]))
            return true;
    return false;
}

bool PointsContainer::containsAll(const PointsContainer& other) const
{
    if (empty() || other.empty())
        return false;
    return std::all_of(other.points_.begin(), other.points_.end(),
                       [this](const Point& p) { return contains(p); });
}

bool PointsContainer::equals(const PointsContainer& other) const
{
    return points_ == other.points_;
}

bool PointsContainer::equalsRing(const PointsContainer& other) const
{
    const std::size_t n = points_.size();
    if (n != other.points_.size())
        return false;
    if (n == 0)
        return true;
    const auto& o = other.points_;
    for (std::size_t start = 0; start < n; ++start) {
        if (o[start] != points_[0])
            continue;
        bool forward = true;
        bool backward = true;
        for (std::size_t i = 1; i < n && (forward || backward); ++i) {
            forward = forward && o[(start + i) % n] == points_[i];
            backward = backward && o[(start + n - i) % n] == points_[i];
        }
        if (forward || backward)
            return true;
    }
    return false;
}

Point PointsContainer::centroid() const
{
    if (points_.empty())
        return {};
    double area = 0.0;
    double sx = 0.0;
    double sy = 0.0;
    Point prev = points_.back();
    for (const Point& cur : points_) {
        // prev = i, cur = j
        const double c = double(cur.x) * prev.y - double(prev.x) * cur.y;
        area += c;
        sx += (double(prev.x) + cur.x) * c;
        sy += (double(prev.y) + cur.y) * c;
        prev = cur;
    }
    if (area == 0.0)
        return points_.front();
    return {float(sx / (3.0 * area)), float(sy / (3.0 * area))};
}

} // namespace quillon
