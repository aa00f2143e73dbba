#pragma once

#include <memory>

#include "quillon/tracking/strategies/generic_tracker.h"

namespace quillon
{

// The strategy of a trackerType (1 VodTracker, 5 VodTracker2, 2-4 the fused
// ones, others KineTracker), built for `channel` with the Tracker's
// callback; empty for a type not built (yet). The caller subscribes it on
// the bus.
std::shared_ptr<GenericTracker> makeStrategy(int trackerType, int channel, TrackerCallback callback,
                                             Tracker* tracker, bool debug);

// The detection-driven strategies (types 1 and 5); empty for other types.
std::shared_ptr<GenericTracker> makeDetectionStrategy(int trackerType, int channel,
                                                      TrackerCallback callback, Tracker* tracker,
                                                      bool debug);
// The scene-engine, fused and analytics strategies (every other type);
// empty for a type not built.
std::shared_ptr<GenericTracker> makeSceneStrategy(int trackerType, int channel,
                                                  TrackerCallback callback, Tracker* tracker,
                                                  bool debug);

// The source of objects a trackerType's strategy produces (2 detection,
// 3 fused or analytics), -1 for any: the zone profile's required source.
int strategySource(int trackerType);

} // namespace quillon
