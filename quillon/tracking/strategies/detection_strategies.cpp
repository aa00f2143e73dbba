#include "quillon/tracking/strategies/strategy_factory.h"
#include "quillon/tracking/strategies/vod_tracker.h"
#include "quillon/tracking/strategies/vod_tracker2.h"

namespace quillon
{

std::shared_ptr<GenericTracker> makeDetectionStrategy(int trackerType, int channel,
                                                      TrackerCallback callback, Tracker* tracker,
                                                      bool debug)
{
    std::shared_ptr<VodStrategy> strategy;
    if (trackerType == 1)
        strategy = std::make_shared<VodTracker>(channel, std::move(callback), tracker, debug);
    else if (trackerType == 5)
        strategy = std::make_shared<VodTracker2>(channel, std::move(callback), tracker, debug);
    else
        return nullptr;
    strategy->start();
    return strategy;
}

} // namespace quillon
