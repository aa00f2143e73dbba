#pragma once

#include <cstdint>

#include "quillon/config/geometry/camera_geometry.h"
#include "quillon/inputs/vod/vod_position_source.h"

namespace quillon
{

class PtzClient;

// Camera positions of scene times for the strategies' stores and the
// Tracker: data-cache reads through the Tracker's PTZ link, the latest one
// remembered so that the store's read and the Tracker's read of the same
// scene cost one round trip. Directions through a geometry context of its
// own (the Tracker's second), which follows the viewport settings.
//
// Threads: the bus dispatch thread only, like the PTZ link it reads through.
// Owned by the Tracker, which outlives every strategy it hands it to only
// through shared ownership: after the Tracker's prepareToShutdown the link
// refuses reads (no client).
class TrackerPositions : public VodPositionSource
{
public:
    explicit TrackerPositions(PtzClient& ptz) : ptz_(ptz) {}

    bool positionAt(std::int64_t sceneTimeUs, PositionRecord& position) override;
    bool screenToPanTilt(Point screen, const PositionRecord& position, Point& panTilt) override;

    // The library's result of a read at `sceneTimeUs` (0 = `position`
    // filled); a repeated time is answered from the remembered record.
    int read(std::int64_t sceneTimeUs, PositionRecord& position);
    CameraGeometry& geometry() { return geometry_; }

private:
    PtzClient& ptz_;
    CameraGeometry geometry_;
    std::int64_t lastTimeUs_ = -1;
    PositionRecord last_;
};

} // namespace quillon
