#include "quillon/tracking/strategies/strategy_factory.h"

#include "quillon/tracking/objects/tracking_object.h"

namespace quillon
{

std::shared_ptr<GenericTracker> makeStrategy(int trackerType, int channel, TrackerCallback callback,
                                             Tracker* tracker, bool debug)
{
    if (trackerType == 1 || trackerType == 5)
        return makeDetectionStrategy(trackerType, channel, std::move(callback), tracker, debug);
    return makeSceneStrategy(trackerType, channel, std::move(callback), tracker, debug);
}

int strategySource(int trackerType)
{
    switch (trackerType) {
    case 1:
    case 5:
        return kSourceDetection;
    case 2:
    case 3:
    case 4:
        return kSourceFused;
    default:
        return kSourceAny;
    }
}

} // namespace quillon
