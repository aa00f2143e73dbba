#pragma once

#include <cstdint>

#include "quillon/tracking/filters/exclusion_filter.h"

namespace quillon
{

// Minimum age: newestUs - firstSeenUs >= threshold. Obeys
// "minObjectLifespan" (min_object_lifespan_t, whole seconds).
class ObjectLifespanFilter : public ExclusionFilter
{
public:
    explicit ObjectLifespanFilter(int seconds = 1, bool active = false);

    void handleMessage(const std::shared_ptr<Message>& message) override;
    bool accepts(const TrackingObject& object) const override;
    void set(int seconds, bool active);

    std::int64_t minimumUs() const { return minimumUs_; }

private:
    std::int64_t minimumUs_ = 0;
};

// Minimum box size in device units (the picture spans 2): either the height
// or the width above its minimum suffices. Obeys "minObjectSize"
// (min_object_size_t, percent of the picture).
class ObjectSizeFilter : public ExclusionFilter
{
public:
    explicit ObjectSizeFilter(int widthPercent = 5, int heightPercent = 5, bool active = true);

    void handleMessage(const std::shared_ptr<Message>& message) override;
    bool accepts(const TrackingObject& object) const override;
    void set(int widthPercent, int heightPercent, bool active);

    float minimumWidth() const { return minWidth_; }
    float minimumHeight() const { return minHeight_; }

private:
    float minWidth_ = 0.0f;
    float minHeight_ = 0.0f;
};

// Minimum box size in degrees of the current view: either dimension
// suffices; every object passes while no camera position is known. Obeys
// "minObjectSizeDegrees" (MinObjectSizeDegrees).
class ObjectSizeDegreeFilter : public ExclusionFilter
{
public:
    ObjectSizeDegreeFilter();

    void handleMessage(const std::shared_ptr<Message>& message) override;
    bool accepts(const TrackingObject& object) const override;
    void set(bool active, float width, float height);

    float minimumWidth() const { return minWidth_; }
    float minimumHeight() const { return minHeight_; }

private:
    float minWidth_ = 0.5f;
    float minHeight_ = 0.5f;
};

// The object's own confidence verdict (isConfident); no settings.
class ObjectConfidenceFilter : public ExclusionFilter
{
public:
    ObjectConfidenceFilter() : ExclusionFilter("objectConfidenceFilter", true) {}

    void handleMessage(const std::shared_ptr<Message>&) override {}
    bool accepts(const TrackingObject& object) const override;
};

} // namespace quillon
