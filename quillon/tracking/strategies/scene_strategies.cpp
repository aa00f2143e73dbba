#include "quillon/tracking/strategies/fusion_tracker.h"
#include "quillon/tracking/strategies/fusion_tracker2.h"
#include "quillon/tracking/strategies/fusion_tracker3.h"
#include "quillon/tracking/strategies/kine_tracker.h"
#include "quillon/tracking/strategies/strategy_factory.h"

namespace quillon
{

std::shared_ptr<GenericTracker> makeSceneStrategy(int trackerType, int channel,
                                                  TrackerCallback callback, Tracker* tracker, bool)
{
    switch (trackerType) {
    case 2:
        return std::make_shared<FusionTracker>(channel, std::move(callback), tracker);
    case 3:
        return std::make_shared<FusionTracker2>(channel, std::move(callback), tracker);
    case 4:
        return std::make_shared<FusionTracker3>(channel, std::move(callback), tracker);
    default:
        return std::make_shared<KineTracker>(channel, std::move(callback), tracker);
    }
}

} // namespace quillon
