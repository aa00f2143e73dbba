#pragma once

#include <cstdint>
#include <string>

#include "quillon/core/channel.h"
#include "quillon/inputs/vod/vod_object_class_settings.h"
#include "quillon/inputs/vod/vod_object_type.h"
#include "quillon/tracking/strategies/vod_strategy.h"

namespace quillon
{

// trackerType 5: follows objects of the detection feed with per-class
// settings (the detector's classes merged with the class settings file)
// and two stop rules for the tracked object: a confident object that is not
// a person and has stood still for 20 s is dropped (a parked car), and so
// is one that has been unconfident for 7 s. An id change of the tracked
// object is followed. Every reported object carries a label (id, class,
// status, score, ages) in its typeName.
//
// Threads: as VodStrategy (everything on the bus thread).
class VodTracker2 : public VodStrategy
{
public:
    static constexpr float kStationarySeconds = 20.0f;
    static constexpr float kUnconfidentSeconds = 7.0f;
    // An unconfident tracked object is logged every this many updates.
    static constexpr std::uint32_t kUnconfidentLogEvery = 10;

    VodTracker2(int channel, TrackerCallback callback, Tracker* tracker, bool debug,
                Channel& bus = Channel::instance(), std::string classFile = kVodObjectClassFile);

    // Starts the feed, then merges the detector's classes.
    void start() override;
    // Merges `model` (the detector's classes) with the class settings file;
    // the result becomes the strategy's classes and, when not empty, the
    // client's class filter (until then the client filters by the settings
    // alone).
    void mergeClasses(const VodClassMap& model);
    const VodClassMap& classes() const { return classes_; }

protected:
    void followIdChange(int before, int after) override;
    TrackerScene buildReport(TrackerScene& stored) override;

private:
    std::string label(const TrackingObject& object) const;
    // The stop rules: whether the tracked object stays tracked. Dropping it
    // unsets it (without exclusion).
    bool keepTracked(const TrackingObject& object, const std::string& text,
                     const TrackerScene& stored);

    VodClassMap classes_;
    std::size_t knownClasses_ = 0;
    // Consecutive unconfident updates of the object `unconfidentId_`.
    std::uint32_t unconfidentUpdates_ = 0;
    int unconfidentId_ = -1;
};

} // namespace quillon
