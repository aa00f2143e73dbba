#pragma once

#include <functional>

#include "quillon/config/geometry/position_record.h"

namespace quillon
{

// The picture the tracker's status refers to: channel (-1 unset) and size.
struct ViewRecord {
    int channel = -1;
    int width = 1920;
    int height = 1080;
};

// What the tracker shares with the rest of the daemon: the camera position
// at the latest frame's capture time and now (each with its validity), the
// view and the tracked id (-1 none).
struct TrackerStatus {
    PositionRecord atFrame;
    bool atFrameValid = false;
    PositionRecord now;
    bool nowValid = false;
    ViewRecord view;
    int trackedId = -1;
};

// Process-wide status record. Written by the Tracker on the bus thread, read
// by the API thread and the overlays: every access copies under a lock, so a
// reader sees one whole record.
TrackerStatus trackerStatus();
void updateTrackerStatus(const std::function<void(TrackerStatus&)>& change);
void setTrackedIdStatus(int id);
int trackedIdStatus();

} // namespace quillon
