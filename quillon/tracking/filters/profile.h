#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quillon/tracking/filters/exclusion_filter.h"

namespace quillon
{

class TrackingObject;

// A chain of object filters with two pre-checks: an object must share a bit
// with the flags mask (when it is not 0) and come from the required source
// (when it is 0 or more), then pass every filter in order. A new profile
// holds an ObjectConfidenceFilter.
//
// Threads: bus dispatch thread only.
class Profile
{
public:
    Profile(int id, std::string name, int value);
    virtual ~Profile();
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;

    bool accepts(const TrackingObject& object) const;
    void addFilter(std::shared_ptr<ExclusionFilter> filter);

    int id() const { return id_; }
    const std::string& name() const { return name_; }
    int value() const { return value_; }
    const std::vector<std::shared_ptr<ExclusionFilter>>& filters() const { return filters_; }

    void setFlagsMask(int mask) { flagsMask_ = mask; }
    int flagsMask() const { return flagsMask_; }
    // -1: any source.
    void setRequiredSource(int source) { requiredSource_ = source; }
    int requiredSource() const { return requiredSource_; }

private:
    std::int32_t id_;
    std::string name_;
    std::int32_t value_;
    std::vector<std::shared_ptr<ExclusionFilter>> filters_;
    std::int32_t flagsMask_ = 0;
    std::int32_t requiredSource_ = -1;
};

} // namespace quillon
