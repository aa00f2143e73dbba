// Coordinate conversions: angle wrapping, picture/device frames, the linear
// model, the library path when the geometry is complete, round trips and the
// visible-polygon rule.
#include <cmath>
#include <utility>

#include <gtest/gtest.h>

#include "quillon/config/geometry/camera_geometry.h"
#include "quillon/config/geometry/coordinates.h"
#include "quillon/config/geometry/picture_format.h"
#include "quillon/config/geometry/position_record.h"

namespace quillon
{
namespace
{

PositionRecord position(float pan, float tilt, float hfov, float vfov)
{
    PositionRecord r;
    r.pan = pan;
    r.tilt = tilt;
    r.horizontalFov = hfov;
    r.verticalFov = vfov;
    return r;
}

PictureFormat format(int rotation)
{
    PictureFormat f;
    f.rotation = rotation;
    return f;
}

TEST(AngleWrap, IntoMinus180To180)
{
    EXPECT_FLOAT_EQ(wrapAngle(190), -170);
    EXPECT_FLOAT_EQ(wrapAngle(-190), 170);
    EXPECT_FLOAT_EQ(wrapAngle(180), 180);
    EXPECT_FLOAT_EQ(wrapAngle(-180), -180);
    EXPECT_FLOAT_EQ(wrapAngle(540), 180);
    EXPECT_FLOAT_EQ(wrapAngle(-725), -5);
    // Huge and infinite values end promptly.
    const float huge = wrapAngle(1e30f);
    EXPECT_GE(huge, -180);
    EXPECT_LE(huge, 180);
    EXPECT_FALSE(std::isfinite(wrapAngle(INFINITY)));
    EXPECT_TRUE(std::isnan(wrapAngle(NAN)));

    const Point d = panTiltDifference({170, -10}, {-170, 5});
    EXPECT_FLOAT_EQ(d.x, -20);
    EXPECT_FLOAT_EQ(d.y, -15);
}

TEST(DeviceFrame, BothRotationsAndUnsetOrOdd)
{
    EXPECT_EQ(pictureToDevice({0, 0}, 0), (Point{-1, 1}));
    EXPECT_EQ(pictureToDevice({1, 0.5f}, 0), (Point{1, 0}));
    EXPECT_EQ(pictureToDevice({0, 0}, 180), (Point{1, -1}));
    EXPECT_EQ(pictureToDevice({0, 0}, -1), (Point{-1, 1}));
    for (int rotation : {-1, 0, 180})
        for (Point p : {Point{0, 0}, Point{0.25f, 0.75f}, Point{1, 0.5f}})
            EXPECT_EQ(deviceToPicture(pictureToDevice(p, rotation), rotation), p) << rotation;
    EXPECT_EQ(deviceToPicture({0.5f, 0.5f}, 90), (Point{0, 0}));
}

TEST(LinearModel, PictureToPanTiltWithWrap)
{
    const CameraGeometry none; // no rotation or dimension: linear model
    ASSERT_FALSE(none.complete());
    const auto pos = position(10, -20, 60, 34);
    Point pt = pictureToPanTilt({1, 0.5f}, pos, format(0), none);
    EXPECT_FLOAT_EQ(pt.x, 40);
    EXPECT_FLOAT_EQ(pt.y, -20);
    pt = pictureToPanTilt({0.5f, 0}, pos, format(0), none);
    EXPECT_FLOAT_EQ(pt.y, -3);
    pt = pictureToPanTilt({1, 0.5f}, pos, format(180), none);
    EXPECT_FLOAT_EQ(pt.x, -20);
    // Across the +-180 seam.
    pt = pictureToPanTilt({1, 0.5f}, position(170, 0, 60, 34), format(0), none);
    EXPECT_FLOAT_EQ(pt.x, -160);
}

TEST(LinearModel, PanTiltToViewRefusesBeyond100Degrees)
{
    const CameraGeometry none;
    const auto pos = position(175, 0, 60, 34);
    // -175 is 10 degrees to the right of 175.
    auto uv = panTiltToView({-175, 0}, ViewMode::Device, pos, format(0), none);
    ASSERT_TRUE(uv);
    EXPECT_NEAR(uv->x, 10.0f / 60 * 2, 1e-6);
    auto xy = panTiltToView({-175, 17}, ViewMode::Picture, pos, format(0), none);
    ASSERT_TRUE(xy);
    EXPECT_NEAR(xy->x, 0.5f + 10.0f / 60, 1e-6);
    EXPECT_NEAR(xy->y, 0, 1e-6);

    EXPECT_TRUE(panTiltToView({175 - 100, 0}, ViewMode::Device, pos, format(0), none));
    EXPECT_FALSE(panTiltToView({175 - 101, 0}, ViewMode::Device, pos, format(0), none));
    EXPECT_FALSE(
        panTiltToView({175, -90}, ViewMode::Device, position(175, 15, 60, 34), format(0), none));
    EXPECT_FALSE(panTiltToView({NAN, 0}, ViewMode::Device, pos, format(0), none));
    // A record without a field of view cannot place anything.
    EXPECT_FALSE(
        panTiltToView({175, 0}, ViewMode::Device, position(175, 0, 0, 0), format(0), none));
}

TEST(CameraGeometryUse, LibraryExactlyWhenRotationAndDimensionAreSet)
{
    const auto pos = position(0, 0, 60, 34);
    const Point corner{1, 0}; // top-right: the library and the linear model differ here
    const Point linear{30, 17};

    auto check = [&](const CameraGeometry& g, const PictureFormat& f, bool library) {
        EXPECT_EQ(g.complete(), library);
        const Point pt = pictureToPanTilt(corner, pos, f, g);
        if (library) {
            EXPECT_NEAR(pt.x, 30, 1e-3);
            EXPECT_LT(pt.y, 16);
        } else {
            EXPECT_EQ(pt, linear);
        }
    };
    check(CameraGeometry(pos, format(0)), format(0), true);
    check(CameraGeometry(pos, format(-1)), format(-1), false);
    PictureFormat noSize = format(0);
    noSize.width = 0;
    check(CameraGeometry(pos, noSize), noSize, false);

    CameraGeometry g;
    EXPECT_EQ(g.update(pos), 0);
    EXPECT_NE(g.setRotation(90), 0); // refused by the library: not set
    EXPECT_EQ(g.setDimension(1920, 1080), 0);
    check(g, format(0), false);
    EXPECT_EQ(g.setRotation(0), 0);
    check(g, format(0), true);

    // Without a context (moved from) every call answers -7 and the linear
    // model applies.
    CameraGeometry moved(std::move(g));
    EXPECT_TRUE(moved.complete());
    EXPECT_FALSE(g.hasContext()); // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(g.update(pos), CameraGeometry::kNoContext);
    EXPECT_EQ(g.setRotation(0), CameraGeometry::kNoContext);
    EXPECT_EQ(g.setDimension(1920, 1080), CameraGeometry::kNoContext);
    Point out;
    int px, py;
    EXPECT_EQ(g.toPanTilt(0, 0, out), CameraGeometry::kNoContext);
    EXPECT_EQ(g.toPixel({0, 0}, px, py), CameraGeometry::kNoContext);
    EXPECT_EQ(g.screenToPanTilt({0, 0}, out), CameraGeometry::kNoContext);
    check(g, format(0), false);
}

TEST(CameraGeometryUse, LibraryMeasuresTheViewLimitOnTheSphere)
{
    // Looking 2 degrees above the nadir, a direction just past it has a pan
    // 180 degrees away yet lies in the picture.
    const auto pos = position(0, -88, 20, 11.25f);
    const CameraGeometry g(pos, format(0));
    const auto seen = panTiltToView({180, -87}, ViewMode::Picture, pos, format(0), g);
    ASSERT_TRUE(seen);
    EXPECT_NEAR(seen->x, 0.5, 1e-3);
    EXPECT_GT(seen->y, 0.5);
    EXPECT_LT(seen->y, 1);
    // 120 degrees away on the sphere stays refused.
    EXPECT_FALSE(panTiltToView({120, 0}, ViewMode::Picture, position(0, 0, 60, 34), format(0),
                               CameraGeometry(position(0, 0, 60, 34), format(0))));
}

TEST(CameraGeometryUse, ScreenConversionsUseDeviceCoordinates)
{
    const auto pos = position(-40, -30, 50, 28);
    const CameraGeometry g(pos, format(180));
    Point pt;
    ASSERT_EQ(g.screenToPanTilt({0, 0}, pt), 0);
    EXPECT_NEAR(pt.x, -40, 1e-4);
    EXPECT_NEAR(pt.y, -30, 1e-4);
    // The device frame ignores the picture rotation: u = 1 is toward larger pan.
    ASSERT_EQ(g.screenToPanTilt({1, 0}, pt), 0);
    EXPECT_GT(pt.x, -40 + 20);
    Point back;
    ASSERT_EQ(g.panTiltToScreen(pt, back), 0);
    EXPECT_NEAR(back.x, 1, 1e-4);
    EXPECT_NEAR(back.y, 0, 1e-4);
}

TEST(RoundTrip, PictureToPanTiltAndBackAcrossZoomsTiltsAndRotations)
{
    for (int rotation : {0, 180})
        for (float fov : {2.0f, 10.0f, 30.0f, 60.0f})
            for (float tilt : {0.0f, -30.0f, -60.0f, -89.0f}) {
                const auto pos = position(178, tilt, fov, fov * 9 / 16);
                const auto f = format(rotation);
                const CameraGeometry g(pos, f);
                ASSERT_TRUE(g.complete());
                for (float x = 0; x <= 1; x += 0.125f)
                    for (float y = 0; y <= 1; y += 0.125f) {
                        const Point pt = pictureToPanTilt({x, y}, pos, f, g);
                        const auto back = panTiltToView(pt, ViewMode::Picture, pos, f, g);
                        ASSERT_TRUE(back) << rotation << " " << fov << " " << tilt;
                        EXPECT_NEAR(back->x, x, 1e-3) << rotation << " " << fov << " " << tilt;
                        EXPECT_NEAR(back->y, y, 1e-3) << rotation << " " << fov << " " << tilt;
                        const auto uv = panTiltToView(pt, ViewMode::Device, pos, f, g);
                        ASSERT_TRUE(uv);
                        const Point d = pictureToDevice({x, y}, rotation);
                        EXPECT_NEAR(uv->x, d.x, 2e-3);
                        EXPECT_NEAR(uv->y, d.y, 2e-3);
                    }
            }
}

TEST(RoundTrip, LinearModelIsExactInverse)
{
    const CameraGeometry none;
    for (int rotation : {-1, 0, 180}) {
        const auto pos = position(-179, -45, 20, 11.25f);
        const auto f = format(rotation);
        for (float x = 0; x <= 1; x += 0.25f)
            for (float y = 0; y <= 1; y += 0.25f) {
                const Point pt = pictureToPanTilt({x, y}, pos, f, none);
                const auto back = panTiltToView(pt, ViewMode::Picture, pos, f, none);
                ASSERT_TRUE(back);
                EXPECT_NEAR(back->x, x, 1e-5);
                EXPECT_NEAR(back->y, y, 1e-5);
            }
    }
}

TEST(VisiblePolygon, PartlyInPictureKeptOutsideOrFarAwayDropped)
{
    const auto pos = position(0, -10, 60, 34);
    const CameraGeometry none;
    const CameraGeometry lib(pos, format(0));
    for (const CameraGeometry* g : {&none, &lib}) {
        // Straddles the right edge of the picture (pan 30).
        const Polygon partly = Polygon::box(20, 45, -15, -5);
        auto seen = visiblePolygon(partly, ViewMode::Picture, pos, format(0), *g);
        ASSERT_TRUE(seen);
        ASSERT_EQ(seen->size(), 4u);
        EXPECT_LT((*seen)[0].x, 1);
        EXPECT_GT((*seen)[2].x, 1);
        EXPECT_TRUE(visiblePolygon(partly, ViewMode::Device, pos, format(0), *g));

        // Wholly right of the picture.
        const Polygon outside = Polygon::box(40, 60, -15, -5);
        EXPECT_FALSE(visiblePolygon(outside, ViewMode::Picture, pos, format(0), *g));
        EXPECT_FALSE(visiblePolygon(outside, ViewMode::Device, pos, format(0), *g));

        // Covers the picture with points 120 degrees away: not convertible.
        const Polygon far({{-10, -20}, {10, -20}, {120, 0}, {-10, 0}});
        EXPECT_FALSE(visiblePolygon(far, ViewMode::Picture, pos, format(0), *g));

        // Wholly containing the picture: kept (the frame's corners lie inside).
        EXPECT_TRUE(
            visiblePolygon(Polygon::box(-40, 40, -40, 20), ViewMode::Picture, pos, format(0), *g));
    }
    // Behind the image plane (within 100 degrees): only the library refuses.
    const Polygon wide({{-95, -20}, {10, -20}, {10, 0}, {-10, 0}});
    EXPECT_TRUE(visiblePolygon(wide, ViewMode::Picture, pos, format(0), none));
    EXPECT_FALSE(visiblePolygon(wide, ViewMode::Picture, pos, format(0), lib));
}

} // namespace
} // namespace quillon
