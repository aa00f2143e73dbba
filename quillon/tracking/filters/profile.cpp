#include "quillon/tracking/filters/profile.h"

#include "quillon/tracking/filters/object_filters.h"
#include "quillon/tracking/objects/tracking_object.h"

namespace quillon
{

Profile::Profile(int id, std::string name, int value)
    : id_(id), name_(std::move(name)), value_(value)
{
    filters_.push_back(std::make_shared<ObjectConfidenceFilter>());
}

Profile::~Profile() = default;

void Profile::addFilter(std::shared_ptr<ExclusionFilter> filter)
{
    filters_.push_back(std::move(filter));
}

bool Profile::accepts(const TrackingObject& object) const
{
    if (flagsMask_ != 0 && (object.flags & flagsMask_) == 0)
        return false;
    if (requiredSource_ >= 0 && object.source != requiredSource_)
        return false;
    for (const auto& filter : filters_)
        if (!filter->accepts(object))
            return false;
    return true;
}

} // namespace quillon
