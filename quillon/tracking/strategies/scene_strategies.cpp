#include "quillon/tracking/strategies/strategy_factory.h"

namespace quillon
{

std::shared_ptr<GenericTracker> makeSceneStrategy(int, int, TrackerCallback, Tracker*, bool)
{
    return nullptr;
}

} // namespace quillon
