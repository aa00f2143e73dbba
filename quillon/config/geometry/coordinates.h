#pragma once

#include <optional>

#include "quillon/config/geometry/point.h"
#include "quillon/config/geometry/polygon.h"

namespace quillon
{

class CameraGeometry;
struct PictureFormat;
struct PositionRecord;

// Three coordinate systems:
//   pan/tilt  degrees, pan wrapped into [-180, 180] (Point x = pan, y = tilt);
//   picture   x right, y down, both in [0, 1] across the displayed picture;
//   device    u right, v up, both in [-1, 1], 0 at the centre, in the
//             camera's own orientation: u = 2x - 1, v = 1 - 2y, both negated
//             when the picture is rotated by 180 degrees.

// Target of a pan/tilt conversion.
enum class ViewMode { Picture = 0, Device = 1 };

// Into [-180, 180]; not-finite input comes back not finite.
float wrapAngle(float degrees);
// Both components of a - b, wrapped.
Point panTiltDifference(Point a, Point b);

Point pictureToDevice(Point picture, int rotation);
// Rotation -1 (not set) reads as 0; (0, 0) for a rotation other than 0 and 180.
Point deviceToPicture(Point device, int rotation);

// Picture point -> pan/tilt: through the camera-geometry library when the
// geometry is complete, else linear in the fields of view. Always answers.
Point pictureToPanTilt(Point picture, const PositionRecord& position, const PictureFormat& format,
                       const CameraGeometry& geometry);

// Pan/tilt -> picture or device point. No answer for a direction more than
// 100 degrees from the camera (linear model: in pan or in tilt; library: on
// the sphere, and the library also refuses anything behind the image plane),
// or, in the linear model, with a field of view that is not positive.
std::optional<Point> panTiltToView(Point panTilt, ViewMode mode, const PositionRecord& position,
                                   const PictureFormat& format, const CameraGeometry& geometry);

// A pan/tilt zone as seen in the picture (or device frame): every point
// converted, and the result kept only when it overlaps the frame box.
std::optional<Polygon> visiblePolygon(const Polygon& zone, ViewMode mode,
                                      const PositionRecord& position, const PictureFormat& format,
                                      const CameraGeometry& geometry);

} // namespace quillon
