#include "quillon/config/geometry/coordinates.h"

#include <algorithm>
#include <cmath>

#include "quillon/config/geometry/camera_geometry.h"
#include "quillon/config/geometry/picture_format.h"
#include "quillon/config/geometry/position_record.h"

namespace quillon
{

namespace
{

// Beyond this angle from the camera a direction is not converted to the view.
constexpr float kMaxViewAngle = 100.0f;

bool validFov(float fov)
{
    return std::isfinite(fov) && fov > 0.0f;
}

constexpr double kDeg = 3.14159265358979323846 / 180.0;

// Angle in degrees between two pan/tilt directions.
double angleBetween(Point a, Point b)
{
    const double ta = a.y * kDeg;
    const double tb = b.y * kDeg;
    const double cosAngle =
        std::sin(ta) * std::sin(tb) + std::cos(ta) * std::cos(tb) * std::cos((a.x - b.x) * kDeg);
    return std::acos(std::clamp(cosAngle, -1.0, 1.0)) / kDeg;
}

} // namespace

float wrapAngle(float degrees)
{
    // fmod first, so huge (or infinite) values cannot spin the loops.
    if (std::fabs(degrees) > 540.0f)
        degrees = std::fmod(degrees, 360.0f);
    while (degrees < -180.0f)
        degrees += 360.0f;
    while (degrees > 180.0f)
        degrees -= 360.0f;
    return degrees;
}

Point panTiltDifference(Point a, Point b)
{
    return {wrapAngle(a.x - b.x), wrapAngle(a.y - b.y)};
}

Point pictureToDevice(Point picture, int rotation)
{
    Point d{2.0f * picture.x - 1.0f, 1.0f - 2.0f * picture.y};
    if (rotation == 180)
        d = {-d.x, -d.y};
    return d;
}

Point deviceToPicture(Point device, int rotation)
{
    // Not set (-1) reads as 0, as in pictureToDevice.
    if (rotation == 0 || rotation == -1)
        return {(device.x + 1.0f) / 2.0f, 1.0f - (device.y + 1.0f) / 2.0f};
    if (rotation == 180)
        return {1.0f - (device.x + 1.0f) / 2.0f, (device.y + 1.0f) / 2.0f};
    return {};
}

Point pictureToPanTilt(Point picture, const PositionRecord& position, const PictureFormat& format,
                       const CameraGeometry& geometry)
{
    if (geometry.complete()) {
        Point panTilt;
        if (geometry.toPanTilt(float(format.width) * picture.x, float(format.height) * picture.y,
                               panTilt) == 0)
            return panTilt;
    }
    const Point d = pictureToDevice(picture, format.rotation);
    return {wrapAngle(position.pan + d.x * position.horizontalFov / 2.0f),
            wrapAngle(position.tilt + d.y * position.verticalFov / 2.0f)};
}

std::optional<Point> panTiltToView(Point panTilt, ViewMode mode, const PositionRecord& position,
                                   const PictureFormat& format, const CameraGeometry& geometry)
{
    if (geometry.complete()) {
        // Measured on the sphere: near the zenith or nadir a small step can
        // change pan by up to 180 degrees, and such points are still in view.
        if (!(angleBetween(panTilt, {position.pan, position.tilt}) <= kMaxViewAngle))
            return std::nullopt;
        int px = 0;
        int py = 0;
        if (geometry.toPixel(panTilt, px, py) != 0)
            return std::nullopt;
        const Point picture{float(px) / float(format.width), float(py) / float(format.height)};
        if (mode == ViewMode::Device)
            return pictureToDevice(picture, format.rotation);
        return picture;
    }
    const Point d = panTiltDifference(panTilt, {position.pan, position.tilt});
    // Written so that NaN fails too.
    if (!(std::fabs(d.x) <= kMaxViewAngle && std::fabs(d.y) <= kMaxViewAngle))
        return std::nullopt;
    if (!validFov(position.horizontalFov) || !validFov(position.verticalFov))
        return std::nullopt;
    const Point device{d.x / position.horizontalFov * 2.0f, d.y / position.verticalFov * 2.0f};
    if (mode == ViewMode::Picture)
        return deviceToPicture(device, format.rotation);
    return device;
}

std::optional<Polygon> visiblePolygon(const Polygon& zone, ViewMode mode,
                                      const PositionRecord& position, const PictureFormat& format,
                                      const CameraGeometry& geometry)
{
    std::vector<Point> converted;
    converted.reserve(zone.size());
    for (const Point& p : zone.points()) {
        const auto view = panTiltToView(p, mode, position, format, geometry);
        if (!view)
            return std::nullopt;
        converted.push_back(*view);
    }
    Polygon polygon(std::move(converted));
    const Polygon frame =
        mode == ViewMode::Picture ? Polygon::box(0, 1, 0, 1) : Polygon::box(-1, 1, -1, 1);
    if (!polygon.overlaps(frame))
        return std::nullopt;
    return polygon;
}

} // namespace quillon
