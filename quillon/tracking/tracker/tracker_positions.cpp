#include "quillon/tracking/tracker/tracker_positions.h"

#include "quillon/motion/link/ptz_client.h"

namespace quillon
{

int TrackerPositions::read(std::int64_t sceneTimeUs, PositionRecord& position)
{
    // Time 0 asks for the position now: never remembered.
    if (sceneTimeUs != 0 && sceneTimeUs == lastTimeUs_) {
        position = last_;
        return 0;
    }
    PositionRecord record;
    const int result = ptz_.readPosition(sceneTimeUs, record);
    if (result != 0)
        return result;
    position = record;
    if (sceneTimeUs != 0) {
        lastTimeUs_ = sceneTimeUs;
        last_ = record;
    }
    return 0;
}

bool TrackerPositions::positionAt(std::int64_t sceneTimeUs, PositionRecord& position)
{
    return read(sceneTimeUs, position) == 0;
}

bool TrackerPositions::screenToPanTilt(Point screen, const PositionRecord& position, Point& panTilt)
{
    if (geometry_.update(position) != 0)
        return false;
    return geometry_.screenToPanTilt(screen, panTilt) == 0;
}

} // namespace quillon
