#include "quillon/config/geometry/camera_geometry.h"

#include <camgeom.h>

#include <utility>

#include "quillon/config/geometry/picture_format.h"
#include "quillon/config/geometry/position_record.h"

namespace quillon
{

CameraGeometry::CameraGeometry() : context_(camgeom_context_create_f()) {}

CameraGeometry::CameraGeometry(const PositionRecord& position, const PictureFormat& format)
    : CameraGeometry()
{
    update(position);
    setRotation(format.rotation);
    setDimension(format.width, format.height);
}

CameraGeometry::~CameraGeometry()
{
    destroy();
}

CameraGeometry::CameraGeometry(CameraGeometry&& other) noexcept
    : context_(std::exchange(other.context_, nullptr)),
      rotationSet_(std::exchange(other.rotationSet_, false)),
      dimensionSet_(std::exchange(other.dimensionSet_, false))
{
}

CameraGeometry& CameraGeometry::operator=(CameraGeometry&& other) noexcept
{
    if (this != &other) {
        destroy();
        context_ = std::exchange(other.context_, nullptr);
        rotationSet_ = std::exchange(other.rotationSet_, false);
        dimensionSet_ = std::exchange(other.dimensionSet_, false);
    }
    return *this;
}

void CameraGeometry::destroy()
{
    if (context_)
        camgeom_context_delete(context_);
    context_ = nullptr;
    rotationSet_ = false;
    dimensionSet_ = false;
}

int CameraGeometry::update(const PositionRecord& position)
{
    if (!context_)
        return kNoContext;
    int result = 0;
    if (int rc = camgeom_set_pantilt_f(context_, position.pan, position.tilt))
        result = rc;
    if (int rc = camgeom_set_horiz_fov_f(context_, position.horizontalFov))
        result = rc;
    if (int rc = camgeom_set_vert_fov_f(context_, position.verticalFov))
        result = rc;
    return result;
}

int CameraGeometry::setRotation(int rotation)
{
    if (!context_)
        return kNoContext;
    if (rotation < 0)
        return 0;
    const int rc = camgeom_set_pic_rot(context_, rotation);
    if (rc == 0)
        rotationSet_ = true;
    return rc;
}

int CameraGeometry::setDimension(int width, int height)
{
    if (!context_)
        return kNoContext;
    if (width < 1 || height < 1)
        return 0;
    const int rc = camgeom_set_pic_dim(context_, width, height);
    if (rc == 0)
        dimensionSet_ = true;
    return rc;
}

int CameraGeometry::toPanTilt(float pixelX, float pixelY, Point& panTilt) const
{
    if (!context_)
        return kNoContext;
    return camgeom_to_ptz_f(context_, pixelX, pixelY, &panTilt.x, &panTilt.y);
}

int CameraGeometry::toPixel(Point panTilt, int& pixelX, int& pixelY) const
{
    if (!context_)
        return kNoContext;
    return camgeom_to_pixel_f(context_, &pixelX, &pixelY, panTilt.x, panTilt.y);
}

int CameraGeometry::screenToPanTilt(Point screen, Point& panTilt) const
{
    if (!context_)
        return kNoContext;
    camgeom_pantilt out;
    const int rc = camgeom_screen_to_ptz(context_, {screen.x, screen.y}, &out);
    if (rc == 0)
        panTilt = {out.pan, out.tilt};
    return rc;
}

int CameraGeometry::panTiltToScreen(Point panTilt, Point& screen) const
{
    if (!context_)
        return kNoContext;
    camgeom_screen_point out;
    const int rc = camgeom_ptz_to_screen(context_, {panTilt.x, panTilt.y}, &out);
    if (rc == 0)
        screen = {out.x, out.y};
    return rc;
}

} // namespace quillon
