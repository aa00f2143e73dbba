#include "quillon/tracking/strategies/strategy_factory.h"

#include "quillon/tracking/objects/tracking_object.h"

namespace quillon
{

std::shared_ptr<GenericTracker> makeStrategy(int, int, TrackerCallback, Tracker*, bool)
{
    return nullptr;
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
