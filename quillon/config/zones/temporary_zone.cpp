#include "quillon/config/zones/temporary_zone.h"

#include "quillon/core/log.h"

namespace quillon
{

void TemporaryZone::start(int timeout, bool gotoHomeAfter, int preTriggerTime)
{
    gotoHomeAfter_ = gotoHomeAfter;
    preTriggerTime_ = preTriggerTime;
    startUs_ = 0;
    running_ = false;
    if (timeout <= 0) {
        // A sender that lost the timeout must not open the whole picture.
        if (duration_ != 0)
            quillonLog(LOG_INFO, "Ended temporary trigger zone: timeout %d.\n", timeout);
        duration_ = 0;
        return;
    }
    duration_ = timeout;
    quillonLog(LOG_INFO,
               "Started temporary trigger zone: timeout %d, goto home: %d, pre-trigger time: %d.\n",
               timeout, gotoHomeAfter ? 1 : 0, preTriggerTime);
}

bool TemporaryZone::beginPass(std::int64_t sceneTimeUs)
{
    if (duration_ == 0)
        return false;
    if (!running_) {
        startUs_ = sceneTimeUs;
        running_ = true;
    }
    const double elapsed = double(sceneTimeUs - startUs_) / 1e6;
    if (elapsed > double(duration_)) {
        duration_ = 0;
        startUs_ = 0;
        running_ = false;
    }
    return true;
}

bool TemporaryZone::triggers(int objectId, std::int64_t firstSeenUs, std::int64_t sceneTimeUs) const
{
    const double ageMs = double(sceneTimeUs - firstSeenUs) / 1000.0;
    if (ageMs < double(preTriggerTime_))
        return false;
    quillonLog(LOG_INFO, "temp zone triggered %d (%.0f >= %d)\n", objectId, ageMs, preTriggerTime_);
    return true;
}

} // namespace quillon
