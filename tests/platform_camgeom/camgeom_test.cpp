// The camera-geometry library: set-up and refusals, agreement with the
// linear model near the horizon, the real projection away from it, and
// round trips through pixels and screen points.
#include <camgeom.h>

#include <cmath>
#include <memory>

#include <gtest/gtest.h>

namespace
{

struct ContextDeleter {
    void operator()(camgeom_context* c) const { camgeom_context_delete(c); }
};
using Context = std::unique_ptr<camgeom_context, ContextDeleter>;

constexpr double kDeg = M_PI / 180.0;

Context makeContext(float pan, float tilt, float hfov, float vfov, int rotation = 0,
                    int width = 1920, int height = 1080)
{
    Context ctx(camgeom_context_create_f());
    EXPECT_NE(ctx, nullptr);
    EXPECT_EQ(camgeom_set_pantilt_f(ctx.get(), pan, tilt), CAMGEOM_OK);
    EXPECT_EQ(camgeom_set_horiz_fov_f(ctx.get(), hfov), CAMGEOM_OK);
    EXPECT_EQ(camgeom_set_vert_fov_f(ctx.get(), vfov), CAMGEOM_OK);
    EXPECT_EQ(camgeom_set_pic_rot(ctx.get(), rotation), CAMGEOM_OK);
    EXPECT_EQ(camgeom_set_pic_dim(ctx.get(), width, height), CAMGEOM_OK);
    return ctx;
}

camgeom_pantilt screenToPtz(camgeom_context* ctx, float x, float y)
{
    camgeom_pantilt out{NAN, NAN};
    EXPECT_EQ(camgeom_screen_to_ptz(ctx, {x, y}, &out), CAMGEOM_OK);
    return out;
}

TEST(Camgeom, RefusesUntilSetUpAndKeepsValidValuesOnBadInput)
{
    Context ctx(camgeom_context_create_f());
    ASSERT_NE(ctx, nullptr);
    float pan = 0, tilt = 0;
    int px = 0, py = 0;
    camgeom_pantilt pt;
    camgeom_screen_point sp;
    EXPECT_EQ(camgeom_screen_to_ptz(ctx.get(), {0, 0}, &pt), CAMGEOM_EUNSET);
    EXPECT_EQ(camgeom_set_horiz_fov_f(ctx.get(), 60), CAMGEOM_OK);
    EXPECT_EQ(camgeom_ptz_to_screen(ctx.get(), {0, 0}, &sp), CAMGEOM_EUNSET);
    EXPECT_EQ(camgeom_set_vert_fov_f(ctx.get(), 34), CAMGEOM_OK);
    EXPECT_EQ(camgeom_screen_to_ptz(ctx.get(), {0, 0}, &pt), CAMGEOM_OK);
    // Pixels also need the picture dimension.
    EXPECT_EQ(camgeom_to_ptz_f(ctx.get(), 10, 10, &pan, &tilt), CAMGEOM_EUNSET);
    EXPECT_EQ(camgeom_to_pixel_f(ctx.get(), &px, &py, 0, 0), CAMGEOM_EUNSET);

    EXPECT_EQ(camgeom_set_horiz_fov_f(ctx.get(), 0), CAMGEOM_EINVAL);
    EXPECT_EQ(camgeom_set_horiz_fov_f(ctx.get(), 180), CAMGEOM_EINVAL);
    EXPECT_EQ(camgeom_set_vert_fov_f(ctx.get(), NAN), CAMGEOM_EINVAL);
    EXPECT_EQ(camgeom_set_pantilt_f(ctx.get(), INFINITY, 0), CAMGEOM_EINVAL);
    EXPECT_EQ(camgeom_set_pic_rot(ctx.get(), 90), CAMGEOM_EINVAL);
    EXPECT_EQ(camgeom_set_pic_dim(ctx.get(), 0, 1080), CAMGEOM_EINVAL);
    // The refused values left the previous ones in place.
    pt = screenToPtz(ctx.get(), 1, 0);
    EXPECT_NEAR(pt.pan, 30, 1e-4);

    EXPECT_EQ(camgeom_set_pic_dim(ctx.get(), 1920, 1080), CAMGEOM_OK);
    EXPECT_EQ(camgeom_to_ptz_f(ctx.get(), NAN, 10, &pan, &tilt), CAMGEOM_EINVAL);
    EXPECT_EQ(camgeom_to_ptz_f(ctx.get(), 10, 10, nullptr, &tilt), CAMGEOM_EINVAL);

    // No context: every call refuses; delete ignores NULL.
    EXPECT_EQ(camgeom_set_pantilt_f(nullptr, 0, 0), CAMGEOM_EINVAL);
    EXPECT_EQ(camgeom_to_ptz_f(nullptr, 0, 0, &pan, &tilt), CAMGEOM_EINVAL);
    EXPECT_EQ(camgeom_to_pixel_f(nullptr, &px, &py, 0, 0), CAMGEOM_EINVAL);
    camgeom_context_delete(nullptr);
}

TEST(Camgeom, ExactOnTheAxesAtTheHorizon)
{
    auto ctx = makeContext(10, 0, 60, 34);
    auto c = screenToPtz(ctx.get(), 0, 0);
    EXPECT_NEAR(c.pan, 10, 1e-5);
    EXPECT_NEAR(c.tilt, 0, 1e-5);
    // The picture edges on the axes are exactly half a field of view away.
    EXPECT_NEAR(screenToPtz(ctx.get(), 1, 0).pan, 40, 1e-4);
    EXPECT_NEAR(screenToPtz(ctx.get(), -1, 0).pan, -20, 1e-4);
    EXPECT_NEAR(screenToPtz(ctx.get(), 0, 1).tilt, 17, 1e-4);
    EXPECT_NEAR(screenToPtz(ctx.get(), 0, -1).tilt, -17, 1e-4);
    // Pixel frame: right edge, middle row; top-left corner looks up-left.
    float pan, tilt;
    ASSERT_EQ(camgeom_to_ptz_f(ctx.get(), 1920, 540, &pan, &tilt), CAMGEOM_OK);
    EXPECT_NEAR(pan, 40, 1e-4);
    EXPECT_NEAR(tilt, 0, 1e-4);
    ASSERT_EQ(camgeom_to_ptz_f(ctx.get(), 0, 0, &pan, &tilt), CAMGEOM_OK);
    EXPECT_LT(pan, 10);
    EXPECT_GT(tilt, 0);
}

TEST(Camgeom, AgreesWithTheLinearModelToFirstOrderNearTheHorizon)
{
    // Narrow field of view at the horizon: angle ~ linear in screen position.
    auto ctx = makeContext(-30, 0, 4, 2.25f);
    for (float x = -1; x <= 1; x += 0.25f)
        for (float y = -1; y <= 1; y += 0.25f) {
            auto pt = screenToPtz(ctx.get(), x, y);
            EXPECT_NEAR(pt.pan, -30 + x * 2, 2e-3) << x << "," << y;
            EXPECT_NEAR(pt.tilt, y * 1.125, 2e-3) << x << "," << y;
        }
    // At a wide angle the middle row keeps within 4 % of the field of view of
    // the linear model (exact at the centre and the edges), the centre's
    // slope being the pinhole's tan(h) / h.
    auto wide = makeContext(0, 0, 60, 34);
    for (float x = -1; x <= 1; x += 0.125f)
        EXPECT_NEAR(screenToPtz(wide.get(), x, 0).pan, x * 30, 1.2) << x;
    const double slope = std::tan(30 * kDeg) / (30 * kDeg);
    EXPECT_NEAR(screenToPtz(wide.get(), 0.01f, 0).pan, 0.01 * 30 * slope, 1e-4);
}

TEST(Camgeom, DepartsFromTheLinearModelAtCornersAndNearTheZenith)
{
    // Wide angle, picture corner at the horizon: the corner ray is lower than
    // half the vertical field of view (tilt = atan(tan(v/2) cos(pan))).
    auto ctx = makeContext(0, 0, 60, 34);
    auto corner = screenToPtz(ctx.get(), 1, 1);
    EXPECT_NEAR(corner.pan, 30, 1e-4);
    const double expectTilt =
        std::atan(std::tan(17 * kDeg) / std::hypot(1.0, std::tan(30 * kDeg))) / kDeg;
    EXPECT_NEAR(corner.tilt, expectTilt, 1e-4);
    EXPECT_LT(corner.tilt, 17 - 1);

    // Looking almost straight down, the picture's side edge is far away in
    // pan: the direction passes close to the nadir.
    auto down = makeContext(0, -85, 20, 11.25f);
    auto side = screenToPtz(down.get(), 1, 0);
    EXPECT_GT(side.pan, 60); // the linear model says 10
    // Beyond the nadir the top of the picture turns to the opposite pan.
    auto steep = makeContext(0, -89, 20, 11.25f);
    auto bottom = screenToPtz(steep.get(), 0, -1);
    EXPECT_NEAR(std::fabs(bottom.pan), 180, 1e-3);
    EXPECT_NEAR(bottom.tilt, -(180 - 89 - 5.625), 1e-3);
}

TEST(Camgeom, PanOutsideOneTurnIsWrappedBeforeUse)
{
    for (float pan : {3610.0f, -3590.0f, 1e30f}) {
        auto ctx = makeContext(pan, -10, 40, 22.5f);
        const auto centre = screenToPtz(ctx.get(), 0, 0);
        camgeom_screen_point back;
        ASSERT_EQ(camgeom_ptz_to_screen(ctx.get(), {centre.pan + 5, -10}, &back), CAMGEOM_OK);
        EXPECT_GT(back.x, 0.1) << pan;
        EXPECT_LT(back.x, 0.4) << pan;
        if (pan < 1e6f) {
            EXPECT_NEAR(centre.pan, 10, 1e-3);
        }
    }
}

TEST(Camgeom, RefusesDirectionsBehindTheCamera)
{
    auto ctx = makeContext(0, 0, 60, 34);
    camgeom_screen_point sp;
    int px, py;
    EXPECT_EQ(camgeom_ptz_to_screen(ctx.get(), {180, 0}, &sp), CAMGEOM_EBEHIND);
    EXPECT_EQ(camgeom_ptz_to_screen(ctx.get(), {90, 0}, &sp), CAMGEOM_EBEHIND);
    EXPECT_EQ(camgeom_to_pixel_f(ctx.get(), &px, &py, -100, 0), CAMGEOM_EBEHIND);
    EXPECT_EQ(camgeom_ptz_to_screen(ctx.get(), {0, 90}, &sp), CAMGEOM_EBEHIND);
    // 89 degrees away still projects, far outside the picture.
    ASSERT_EQ(camgeom_ptz_to_screen(ctx.get(), {89, 0}, &sp), CAMGEOM_OK);
    EXPECT_GT(sp.x, 50);
    // Tilted down, a direction at the horizon straight ahead is in front;
    // the zenith is behind.
    auto down = makeContext(0, -60, 60, 34);
    EXPECT_EQ(camgeom_ptz_to_screen(down.get(), {0, 0}, &sp), CAMGEOM_OK);
    EXPECT_EQ(camgeom_ptz_to_screen(down.get(), {0, 89}, &sp), CAMGEOM_EBEHIND);
}

TEST(Camgeom, ScreenRoundTripsAcrossZoomsTiltsAndPans)
{
    for (float fov : {2.0f, 10.0f, 30.0f, 60.0f})
        for (float tilt : {0.0f, -20.0f, -45.0f, -70.0f, -89.0f})
            for (float pan : {-179.0f, 0.0f, 179.5f}) {
                auto ctx = makeContext(pan, tilt, fov, fov * 9 / 16);
                for (float x = -1; x <= 1; x += 0.5f)
                    for (float y = -1; y <= 1; y += 0.5f) {
                        auto pt = screenToPtz(ctx.get(), x, y);
                        EXPECT_GE(pt.pan, -180);
                        EXPECT_LE(pt.pan, 180);
                        camgeom_screen_point back;
                        ASSERT_EQ(camgeom_ptz_to_screen(ctx.get(), pt, &back), CAMGEOM_OK);
                        EXPECT_NEAR(back.x, x, 2e-3)
                            << "fov " << fov << " tilt " << tilt << " pan " << pan;
                        EXPECT_NEAR(back.y, y, 2e-3)
                            << "fov " << fov << " tilt " << tilt << " pan " << pan;
                    }
            }
}

TEST(Camgeom, PixelRoundTripsInBothRotations)
{
    for (int rotation : {0, 180})
        for (float tilt : {0.0f, -45.0f, -89.0f}) {
            auto ctx = makeContext(170, tilt, 40, 22.5f, rotation);
            for (int px = 0; px <= 1920; px += 320)
                for (int py = 0; py <= 1080; py += 270) {
                    float pan, t;
                    ASSERT_EQ(camgeom_to_ptz_f(ctx.get(), px, py, &pan, &t), CAMGEOM_OK);
                    int bx, by;
                    ASSERT_EQ(camgeom_to_pixel_f(ctx.get(), &bx, &by, pan, t), CAMGEOM_OK);
                    EXPECT_LE(std::abs(bx - px), 1) << rotation << " " << tilt;
                    EXPECT_LE(std::abs(by - py), 1) << rotation << " " << tilt;
                }
        }
}

TEST(Camgeom, RotationTurnsThePixelFrameHalfAround)
{
    auto upright = makeContext(0, -30, 50, 28, 0);
    auto turned = makeContext(0, -30, 50, 28, 180);
    float p0, t0, p1, t1;
    ASSERT_EQ(camgeom_to_ptz_f(upright.get(), 300, 200, &p0, &t0), CAMGEOM_OK);
    ASSERT_EQ(camgeom_to_ptz_f(turned.get(), 1920 - 300, 1080 - 200, &p1, &t1), CAMGEOM_OK);
    EXPECT_NEAR(p0, p1, 1e-4);
    EXPECT_NEAR(t0, t1, 1e-4);
    // Right of the displayed picture looks toward smaller pan when turned.
    ASSERT_EQ(camgeom_to_ptz_f(turned.get(), 1920, 540, &p1, &t1), CAMGEOM_OK);
    EXPECT_LT(p1, 0);
}

TEST(Camgeom, PixelResultsThatCannotBeRepresentedAreRefused)
{
    // Nearly on the image plane with a tiny field of view: far beyond int.
    auto ctx = makeContext(0, 0, 0.001f, 0.001f);
    int px, py;
    EXPECT_EQ(camgeom_to_pixel_f(ctx.get(), &px, &py, 89.9f, 0), CAMGEOM_ERANGE);
}

} // namespace
