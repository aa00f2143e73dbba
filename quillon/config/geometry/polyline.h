#pragma once

#include "quillon/config/geometry/points_container.h"

namespace quillon
{

// An open list of points (a track, a single position).
class Polyline : public PointsContainer
{
public:
    using PointsContainer::PointsContainer;
    explicit Polyline(Point p) : PointsContainer(std::vector<Point>{p}) {}
};

} // namespace quillon
