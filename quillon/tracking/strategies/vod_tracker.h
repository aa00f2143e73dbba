#pragma once

#include "quillon/core/channel.h"
#include "quillon/inputs/vod/vod_object_class_settings.h"
#include "quillon/inputs/vod/vod_object_type.h"
#include "quillon/tracking/strategies/vod_strategy.h"

namespace quillon
{

// trackerType 1: follows objects of the detection feed as they are. The
// report lists every stored object (the tracked one marked, the excluded
// ones held unconfident); an id change of the tracked object stops
// tracking, so the Tracker selects again.
//
// Threads: as VodStrategy (everything on the bus thread).
class VodTracker : public VodStrategy
{
public:
    VodTracker(int channel, TrackerCallback callback, Tracker* tracker, bool debug,
               Channel& bus = Channel::instance(), std::string classFile = kVodObjectClassFile);

protected:
    void followIdChange(int before, int after) override;
    TrackerScene buildReport(TrackerScene& stored) override;

private:
    // The client's classes, copied at the first report.
    VodClassMap classes_;
};

} // namespace quillon
