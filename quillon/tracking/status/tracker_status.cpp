#include "quillon/tracking/status/tracker_status.h"

#include <mutex>

namespace quillon
{

namespace
{

struct SharedStatus {
    std::mutex mutex;
    TrackerStatus status;
};

SharedStatus& shared()
{
    static SharedStatus instance;
    return instance;
}

} // namespace

TrackerStatus trackerStatus()
{
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    return s.status;
}

void updateTrackerStatus(const std::function<void(TrackerStatus&)>& change)
{
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    change(s.status);
}

void setTrackedIdStatus(int id)
{
    updateTrackerStatus([id](TrackerStatus& status) { status.trackedId = id; });
}

int trackedIdStatus()
{
    return trackerStatus().trackedId;
}

} // namespace quillon
