#include "quillon/config/geometry/camera_position.h"

#include <mutex>

namespace quillon
{

namespace
{

struct SharedCameraPosition {
    std::mutex mutex;
    CameraPosition position;
};

SharedCameraPosition& shared()
{
    static SharedCameraPosition instance;
    return instance;
}

} // namespace

CameraPosition cameraPosition()
{
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    return s.position;
}

void setCameraPosition(const PositionRecord& record)
{
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    s.position.record = record;
    s.position.valid = true;
}

void invalidateCameraPosition()
{
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    s.position.valid = false;
}

} // namespace quillon
