#include "projector.h"

#include <camgeom.h>

#include <algorithm>
#include <cmath>
#include <new>

namespace camsim::feeds
{

namespace
{
constexpr double kRadToDeg = 180.0 / M_PI;
// Share of an object's box that must lie inside the picture for the
// detector to see it.
constexpr float kMinVisibleShare = 0.3f;
} // namespace

PictureBox pictureBox(const Box& b, int rotation)
{
    if (rotation == 180)
        return {(1.0 - b.right) / 2, (1.0 + b.bottom) / 2, (1.0 - b.left) / 2, (1.0 + b.top) / 2};
    return {(b.left + 1.0) / 2, (1.0 - b.top) / 2, (b.right + 1.0) / 2, (1.0 - b.bottom) / 2};
}

float overlap(const Box& a, const Box& b)
{
    Box i{std::max(a.left, b.left), std::min(a.top, b.top), std::min(a.right, b.right),
          std::max(a.bottom, b.bottom)};
    float inter = i.area();
    float uni = a.area() + b.area() - inter;
    return uni > 0.0f ? inter / uni : 0.0f;
}

Projector::Projector() : ctx_(camgeom_context_create_f())
{
    if (ctx_ == nullptr)
        throw std::bad_alloc();
}

Projector::~Projector()
{
    camgeom_context_delete(ctx_);
}

void Projector::setPose(const ViewPose& pose)
{
    camgeom_set_pantilt_f(ctx_, static_cast<float>(pose.pan), static_cast<float>(pose.tilt));
    camgeom_set_horiz_fov_f(ctx_, static_cast<float>(pose.hfov));
    camgeom_set_vert_fov_f(ctx_, static_cast<float>(pose.vfov));
}

void Projector::direction(double x, double y, double z, double cameraHeight, double& pan,
                          double& tilt)
{
    pan = std::atan2(x, y) * kRadToDeg;
    tilt = std::atan2(z - cameraHeight, std::hypot(x, y)) * kRadToDeg;
}

ObjectView Projector::view(double cameraHeight, const GroundPosition& pos,
                           const ObjectSpec& object) const
{
    ObjectView v;
    Projector::direction(pos.x, pos.y, object.height / 2, cameraHeight, v.pan, v.tilt);
    v.distance = std::sqrt(pos.x * pos.x + pos.y * pos.y +
                           (object.height / 2 - cameraHeight) * (object.height / 2 - cameraHeight));

    // The object as an upright rectangle across the line of sight: its four
    // corners, projected, bound its box in the picture.
    double ground = std::hypot(pos.x, pos.y);
    double px = 1.0, py = 0.0; // across the line of sight
    if (ground > 1e-6) {
        px = pos.y / ground;
        py = -pos.x / ground;
    }
    double half = object.width / 2;
    Box raw{1e9f, -1e9f, -1e9f, 1e9f};
    for (int side = -1; side <= 1; side += 2) {
        for (double z : {0.0, object.height}) {
            double pan = 0.0, tilt = 0.0;
            direction(pos.x + side * half * px, pos.y + side * half * py, z, cameraHeight, pan,
                      tilt);
            camgeom_screen_point s;
            if (camgeom_ptz_to_screen(ctx_, {static_cast<float>(pan), static_cast<float>(tilt)},
                                      &s) != CAMGEOM_OK)
                return v; // a corner behind the camera: not in the picture
            raw.left = std::min(raw.left, s.x);
            raw.right = std::max(raw.right, s.x);
            raw.bottom = std::min(raw.bottom, s.y);
            raw.top = std::max(raw.top, s.y);
        }
    }
    camgeom_screen_point centre;
    if (camgeom_ptz_to_screen(ctx_, {static_cast<float>(v.pan), static_cast<float>(v.tilt)},
                              &centre) != CAMGEOM_OK)
        return v;
    v.projected = true;
    v.whole = raw;
    v.u = centre.x;
    v.v = centre.y;
    Box clipped{std::max(raw.left, -1.0f), std::min(raw.top, 1.0f), std::min(raw.right, 1.0f),
                std::max(raw.bottom, -1.0f)};
    if (raw.area() <= 0.0f || clipped.area() < kMinVisibleShare * raw.area())
        return v;
    v.inPicture = true;
    v.box = clipped;
    return v;
}

} // namespace camsim::feeds
