// Polygon tests: the crossing rule at its edges, overlap and crossing with
// the closing edge, segment tolerance, ring equality, centroid, builders.
#include <string>

#include <gtest/gtest.h>

#include "quillon/config/geometry/polygon.h"
#include "quillon/config/geometry/polyline.h"

namespace quillon
{
namespace
{

const Polygon kTriangle({{0, 0}, {4, 0}, {0, 4}});
const Polygon kSquare = Polygon::box(0, 2, 0, 2);

TEST(PolygonContains, InteriorInsideAndLeftOfTriangleOutside)
{
    EXPECT_TRUE(kTriangle.contains({1, 1}));
    EXPECT_TRUE(kTriangle.contains({0.1f, 3.8f}));
    EXPECT_FALSE(kTriangle.contains({-1, 1}));
    EXPECT_FALSE(kTriangle.contains({3, 3}));
    EXPECT_FALSE(kTriangle.contains({1, -0.5f}));
    EXPECT_FALSE(kTriangle.contains({5, 1}));
}

TEST(PolygonContains, RightEndOfAnEdgeRangeCountsLeftEndDoesNot)
{
    // Square [0,2]^2: its left side is x = 0 (the left end of the top and
    // bottom edges' ranges), its right side x = 2 (their right end).
    EXPECT_FALSE(kSquare.contains({0, 1}));
    EXPECT_TRUE(kSquare.contains({2, 1}));
    // A single edge: the point lies under the edge's line (y up to and
    // including the line) toggles only for xl < px <= xr.
    const Polygon tri({{0, 0}, {2, 2}, {2, 0}}); // edges (2,0)->(0,0), (0,0)->(2,2), vertical
    EXPECT_TRUE(tri.contains({2, 0.5f}));        // right end of both sloped ranges
    EXPECT_FALSE(tri.contains({0, 0}));          // left end everywhere
    EXPECT_TRUE(tri.contains({1, 1}));           // on the sloped edge's line: counts
    EXPECT_FALSE(tri.contains({1, 0}));          // on the bottom edge: toggles twice
}

TEST(PolygonContains, VerticalEdgesNeverToggle)
{
    // A polygon with long vertical sides: points straight below/above the
    // vertical edges at their x decide only by the horizontal edges.
    const Polygon tall = Polygon::box(1, 3, 0, 10);
    EXPECT_FALSE(tall.contains({1, 5}));
    EXPECT_TRUE(tall.contains({3, 5}));
    EXPECT_FALSE(tall.contains({3, 11}));
    EXPECT_FALSE(tall.contains({3, -1}));
}

TEST(PolygonContains, TooFewPointsAnswerFalseAndLog)
{
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Polygon().contains({0, 0}));
    EXPECT_FALSE(Polygon({{0, 0}, {2, 2}}).contains({1, 1}));
    EXPECT_FALSE(Polygon({{0, 0}, {2, 2}}).contains({0, 0}));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Polygon empty\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Polygon size 2\n"), std::string::npos) << err;
}

TEST(PolygonContains, ConcaveShape)
{
    // U shape: the notch is outside.
    const Polygon u({{0, 0}, {3, 0}, {3, 3}, {2, 3}, {2, 1}, {1, 1}, {1, 3}, {0, 3}});
    EXPECT_TRUE(u.contains({0.5f, 2}));
    EXPECT_TRUE(u.contains({2.5f, 2}));
    EXPECT_FALSE(u.contains({1.5f, 2}));
    EXPECT_TRUE(u.contains({1.5f, 0.5f}));
}

TEST(SegmentsCross, CrossingTouchingParallelAndTolerance)
{
    EXPECT_TRUE(segmentsCross({0, 0}, {2, 2}, {0, 2}, {2, 0}));
    EXPECT_FALSE(segmentsCross({0, 0}, {1, 1}, {2, 0}, {3, -1})); // lines cross outside
    EXPECT_FALSE(segmentsCross({0, 0}, {2, 0}, {0, 1}, {2, 1}));  // parallel
    EXPECT_FALSE(segmentsCross({0, 0}, {2, 0}, {1, 0}, {3, 0}));  // collinear overlap
    EXPECT_TRUE(segmentsCross({0, 0}, {2, 0}, {2, -1}, {2, 1}));  // touching an end
    EXPECT_TRUE(segmentsCross({0, 0}, {2, 0}, {2.000005f, -1}, {2.000005f, 1})); // within 1e-5
    EXPECT_FALSE(segmentsCross({0, 0}, {2, 0}, {2.0001f, -1}, {2.0001f, 1}));    // beyond
    // Determinant just below the parallel threshold.
    EXPECT_FALSE(segmentsCross({0, 0}, {0.001f, 0}, {0.0005f, -0.001f}, {0.0005f, 0.001f}));
}

TEST(PolygonOverlaps, VertexInsideEdgesCrossingAndClosingEdge)
{
    EXPECT_TRUE(kSquare.overlaps(Polygon::box(1, 3, 1, 3)));   // vertex inside
    EXPECT_TRUE(Polygon::box(-1, 3, -1, 3).overlaps(kSquare)); // other wholly inside
    EXPECT_TRUE(kSquare.overlaps(Polygon::box(-1, 3, -1, 3))); // this wholly inside
    // A plus: no vertex inside the other, only edges cross.
    EXPECT_TRUE(Polygon::box(0, 4, 1, 2).overlaps(Polygon::box(1, 2, 0, 4)));
    EXPECT_FALSE(kSquare.overlaps(Polygon::box(3, 4, 0, 2)));
    EXPECT_FALSE(kSquare.overlaps(Polygon()));
    EXPECT_FALSE(Polygon().overlaps(kSquare));
    // A triangle touching the square's bottom side from below at (1, 0):
    // no vertex lies inside either, only edges meet, and the square's bottom
    // side is its closing edge ((2, 0) -> (0, 0)).
    const Polygon touching({{1, 0}, {2, -1}, {0, -1}});
    EXPECT_TRUE(kSquare.overlaps(touching));
    EXPECT_TRUE(touching.overlaps(kSquare));
    EXPECT_FALSE(kSquare.overlaps(Polygon({{1, -0.1f}, {2, -1}, {0, -1}})));
}

TEST(PolygonCrosses, PolylinePointsAndSegmentsWithClosingEdge)
{
    EXPECT_TRUE(kSquare.crosses(Polyline(Point{1, 1})));
    EXPECT_FALSE(kSquare.crosses(Polyline(Point{3, 1})));
    EXPECT_TRUE(kSquare.crosses(Polyline({{-1, 1}, {3, 1}})));
    // The polyline is open: no segment from its last point back to its first.
    const Polyline vee({{-1, 0.5f}, {-2, 5}, {4, 5}, {3, 0.5f}});
    EXPECT_FALSE(kSquare.crosses(vee));
    // Ending on the square's closing edge: the end point is not inside (it
    // lies on the bottom side), only the edge test finds it.
    EXPECT_TRUE(kSquare.crosses(Polyline({{1, -1}, {1, 0}})));
    EXPECT_FALSE(kSquare.crosses(Polyline({{1, -1}, {1, -0.1f}})));
    EXPECT_FALSE(kSquare.crosses(Polyline()));
    EXPECT_FALSE(Polygon().crosses(vee));
}

TEST(PolygonContainsAll, EveryPointOrNothing)
{
    EXPECT_TRUE(kSquare.containsAll(Polyline({{0.5f, 0.5f}, {1.5f, 1.5f}})));
    EXPECT_FALSE(kSquare.containsAll(Polyline({{0.5f, 0.5f}, {2.5f, 1.5f}})));
    EXPECT_FALSE(kSquare.containsAll(Polyline()));
    EXPECT_FALSE(Polygon().containsAll(Polyline(Point{1, 1})));
}

TEST(PolygonEquals, OrderAndRingInBothDirections)
{
    const Polygon a({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    const Polygon rotated({{1, 1}, {0, 1}, {0, 0}, {1, 0}});
    const Polygon reversed({{1, 0}, {0, 0}, {0, 1}, {1, 1}});
    const Polygon shuffled({{0, 0}, {1, 1}, {1, 0}, {0, 1}});
    EXPECT_TRUE(a.equals(Polygon(a.points())));
    EXPECT_FALSE(a.equals(rotated));
    EXPECT_TRUE(a.equalsRing(rotated));
    EXPECT_TRUE(a.equalsRing(reversed));
    EXPECT_TRUE(reversed.equalsRing(a));
    EXPECT_FALSE(a.equalsRing(shuffled));
    EXPECT_FALSE(a.equalsRing(Polygon({{0, 0}, {1, 0}, {1, 1}})));
    EXPECT_TRUE(Polygon().equalsRing(Polygon()));
    // Repeated points: the ring must match at some start, not just any.
    const Polygon rep({{0, 0}, {1, 0}, {0, 0}, {2, 0}});
    EXPECT_TRUE(rep.equalsRing(Polygon({{0, 0}, {2, 0}, {0, 0}, {1, 0}})));
    EXPECT_FALSE(rep.equalsRing(Polygon({{0, 0}, {1, 0}, {2, 0}, {0, 0}})));
}

TEST(PolygonCentroid, AreaWeightedAndDegenerate)
{
    const Point c = Polygon::box(0, 4, 0, 2).centroid();
    EXPECT_FLOAT_EQ(c.x, 2);
    EXPECT_FLOAT_EQ(c.y, 1);
    // L shape: area-weighted, not the vertex mean.
    const Polygon l({{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}});
    const Point cl = l.centroid();
    EXPECT_NEAR(cl.x, 5.0 / 6.0, 1e-6);
    EXPECT_NEAR(cl.y, 5.0 / 6.0, 1e-6);
    // Either orientation gives the same point.
    const Polygon lr({{0, 2}, {1, 2}, {1, 1}, {2, 1}, {2, 0}, {0, 0}});
    EXPECT_NEAR(lr.centroid().x, 5.0 / 6.0, 1e-6);
    // No area: the first point; nothing: (0, 0).
    EXPECT_EQ(Polygon({{3, 4}, {5, 6}, {7, 8}}).centroid(), (Point{3, 4}));
    EXPECT_EQ(Polygon({Point{5, 5}}).centroid(), (Point{5, 5}));
    EXPECT_EQ(Polygon().centroid(), (Point{0, 0}));
}

TEST(PolygonBuilders, BoxesAndBoundingBox)
{
    const Polygon b = Polygon::box(1, 3, 2, 5);
    ASSERT_EQ(b.size(), 4u);
    EXPECT_EQ(b[0], (Point{1, 2}));
    EXPECT_EQ(b[1], (Point{1, 5}));
    EXPECT_EQ(b[2], (Point{3, 5}));
    EXPECT_EQ(b[3], (Point{3, 2}));
    EXPECT_EQ(b.boundingBox(), (BoundingBox{1, 2, 3, 5}));

    const Polygon d = Polygon::defaultPolygon();
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d.boundingBox(), (BoundingBox{0, 0, 0, 0}));

    EXPECT_TRUE(Polygon::unionBox(b, Polygon::box(-1, 0, 4, 8)).equals(Polygon::box(-1, 3, 2, 8)));
    EXPECT_TRUE(Polygon::unionBox(b, Polygon()).equals(b));
    EXPECT_TRUE(Polygon::unionBox(Polygon(), Polygon()).empty());

    EXPECT_TRUE(Polygon::centreBox(b, 2).equals(Polygon::box(0, 4, 0.5f, 6.5f)));
    EXPECT_TRUE(Polygon::centreBox(b, 1, 0).equals(Polygon::box(1, 3, 3.5f, 3.5f)));
    EXPECT_TRUE(Polygon::centreBox(Polygon(), 2).empty());
}

TEST(PolygonBuilders, BoundingBoxFollowsEveryChange)
{
    Polygon p;
    EXPECT_EQ(p.boundingBox(), BoundingBox{});
    p.addPoint({1, -1});
    p.addPoint({-2, 3});
    EXPECT_EQ(p.boundingBox(), (BoundingBox{-2, -1, 1, 3}));
    p.setPoints({{5, 5}, {6, 7}});
    EXPECT_EQ(p.boundingBox(), (BoundingBox{5, 5, 6, 7}));
    p.clear();
    EXPECT_EQ(p.boundingBox(), BoundingBox{});
}

TEST(PointHelpers, DistancesAndText)
{
    EXPECT_FLOAT_EQ(squaredDistance({1, 1}, {4, 5}), 25);
    EXPECT_FLOAT_EQ(distance({1, 1}, {4, 5}), 5);
    EXPECT_FLOAT_EQ(squaredLength({3, 4}), 25);
    EXPECT_FLOAT_EQ(length({3, 4}), 5);
    EXPECT_EQ(toString({0.5f, -2}), "{x: 0.5, y: -2}");
}

} // namespace
} // namespace quillon
