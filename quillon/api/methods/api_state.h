#pragma once

#include <atomic>

namespace quillon
{

// What the JSON API last set (and, for autoTrackingEnabled, the external
// trigger event); the tracker does not report back into it. Not persisted.
// Fields are atomic: the event listener writes from its own thread.
struct ApiState {
    std::atomic<bool> autoTrackingEnabled{true};
    std::atomic<bool> eventStateEnabled{false};
    std::atomic<int> targetId{-1};
};

// The process-wide record, created on first use.
ApiState& apiState();

} // namespace quillon
