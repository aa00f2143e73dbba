#pragma once

#include "quillon/config/geometry/point.h"

struct camgeom_context;

namespace quillon
{

struct PictureFormat;
struct PositionRecord;

// Owner of one camera-geometry library context. The library converts only
// once both the picture rotation and the picture dimension have been
// accepted (complete()); until then the conversions use the linear model.
// Not thread-safe: one owner thread (the tracker's, or an API call's own).
class CameraGeometry
{
public:
    // Error of every call when there is no context.
    static constexpr int kNoContext = -7;

    // A context with no pose, rotation or dimension.
    CameraGeometry();
    // A context set from a position record and a picture format (rotation
    // when >= 0, dimension when both sides are >= 1).
    CameraGeometry(const PositionRecord& position, const PictureFormat& format);
    ~CameraGeometry();

    CameraGeometry(const CameraGeometry&) = delete;
    CameraGeometry& operator=(const CameraGeometry&) = delete;
    CameraGeometry(CameraGeometry&& other) noexcept;
    CameraGeometry& operator=(CameraGeometry&& other) noexcept;

    bool hasContext() const { return context_ != nullptr; }
    bool complete() const { return context_ && rotationSet_ && dimensionSet_; }

    // Pan/tilt and both fields of view; the library's result of the last
    // setter that failed, else 0.
    int update(const PositionRecord& position);
    // Ignored (no flag set) for a negative rotation; the flag is set only
    // when the library accepts the value.
    int setRotation(int rotation);
    // Ignored unless both sides are >= 1; the flag is set only when the
    // library accepts the values.
    int setDimension(int width, int height);

    // Library conversions; 0 or the library's error, kNoContext without one.
    int toPanTilt(float pixelX, float pixelY, Point& panTilt) const;
    int toPixel(Point panTilt, int& pixelX, int& pixelY) const;
    // Screen = device coordinates (u, v in [-1, 1], v up).
    int screenToPanTilt(Point screen, Point& panTilt) const;
    int panTiltToScreen(Point panTilt, Point& screen) const;

private:
    void destroy();

    camgeom_context* context_ = nullptr;
    bool rotationSet_ = false;
    bool dimensionSet_ = false;
};

} // namespace quillon
