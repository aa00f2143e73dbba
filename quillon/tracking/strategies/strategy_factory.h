#pragma once

#include <memory>

#include "quillon/tracking/strategies/generic_tracker.h"

namespace quillon
{

// The strategy of a trackerType (1 VodTracker, 5 VodTracker2, ...), built
// for `channel` with the Tracker's callback; empty for a type not built
// here. The caller subscribes it on the bus.
std::shared_ptr<GenericTracker> makeStrategy(int trackerType, int channel, TrackerCallback callback,
                                             Tracker* tracker, bool debug);

// The source of objects a trackerType's strategy produces (2 detection,
// 3 fused or analytics), -1 for any: the zone profile's required source.
int strategySource(int trackerType);

} // namespace quillon
