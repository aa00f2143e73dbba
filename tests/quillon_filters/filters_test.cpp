#include <gtest/gtest.h>

#include "quillon/config/geometry/camera_position.h"
#include "quillon/config/settings/settings_types.h"
#include "quillon/core/message.h"
#include "quillon/tracking/filters/object_filters.h"
#include "quillon/tracking/filters/profile.h"
#include "quillon_filters/filter_test_support.h"

using namespace quillon;
using namespace quillontest;

namespace
{

template <typename T> std::shared_ptr<Message> settingsMessage(const T& value)
{
    return std::make_shared<TrackerSettingsMessage<T>>(value);
}

TEST(ObjectFiltersTest, LifespanNeedsTheFullMinimum)
{
    ObjectLifespanFilter filter;
    auto young = boxObject(1, 0, 0, 0.5f, 0.5f, 1000000, 2999999);
    auto old = boxObject(2, 0, 0, 0.5f, 0.5f, 1000000, 3000000);
    EXPECT_TRUE(filter.accepts(*young)); // inactive by default

    testing::internal::CaptureStderr();
    filter.handleMessage(settingsMessage(min_object_lifespan_t{true, 2}));
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "Updated ObjectLifespanFilter: 1e8480 us - active: 1\n"),
              std::string::npos);
    EXPECT_FALSE(filter.accepts(*young));
    EXPECT_TRUE(filter.accepts(*old));

    // Messages of other records leave it alone.
    filter.handleMessage(settingsMessage(min_object_size_t{true, 90, 90}));
    filter.handleMessage(settingsMessage(MinObjectSizeDegrees{true, 9.0f, 9.0f}));
    EXPECT_EQ(filter.minimumUs(), 2000000);
    EXPECT_TRUE(filter.active());
}

TEST(ObjectFiltersTest, SizeNeedsEitherDimensionStrictlyAbove)
{
    ObjectSizeFilter filter;
    EXPECT_FLOAT_EQ(filter.minimumWidth(), 0.1f);
    struct Case {
        float width, height;
        bool accepted;
    } cases[] = {
        {0.05f, 0.2f, true}, {0.2f, 0.05f, true}, {0.1f, 0.1f, false}, {0.05f, 0.05f, false}};
    for (const auto& c : cases)
        EXPECT_EQ(filter.accepts(*boxObject(1, 0, 0, c.width, c.height)), c.accepted)
            << c.width << " x " << c.height;

    testing::internal::CaptureStderr();
    filter.handleMessage(settingsMessage(min_object_size_t{false, 20, 30}));
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "ObjectSizeFilter - Width: 0.40 - Height: 0.60 - Active: 0\n"),
              std::string::npos);
    EXPECT_TRUE(filter.accepts(*boxObject(1, 0, 0, 0.01f, 0.01f)));
}

TEST(ObjectFiltersTest, SizeInDegreesPassesEverythingWithoutAPosition)
{
    invalidateCameraPosition();
    ObjectSizeDegreeFilter filter;
    filter.handleMessage(settingsMessage(MinObjectSizeDegrees{true, 0.5f, 0.5f}));
    auto tiny = boxObject(1, 0, 0, 0.01f, 0.01f);
    EXPECT_TRUE(filter.accepts(*tiny));

    PositionRecord record;
    record.horizontalFov = 60.0f;
    record.verticalFov = 34.0f;
    setCameraPosition(record);
    // 0.01 units are 0.3 x 0.17 degrees; 0.02 units wide are 0.6 degrees.
    EXPECT_FALSE(filter.accepts(*tiny));
    EXPECT_TRUE(filter.accepts(*boxObject(2, 0, 0, 0.02f, 0.01f)));
    EXPECT_TRUE(filter.accepts(*boxObject(3, 0, 0, 0.01f, 0.03f)));
    invalidateCameraPosition();
}

TEST(ProfileTest, ChecksFlagsSourceThenFiltersInOrder)
{
    Profile profile(1, "p", 0);
    auto object = boxObject(1, 0, 0, 0.5f, 0.5f);
    EXPECT_TRUE(profile.accepts(*object));
    object->setConfidence(0);
    EXPECT_FALSE(profile.accepts(*object)); // a new profile checks confidence
    object->setConfidence(5);

    profile.setFlagsMask(kFlagTracked);
    EXPECT_FALSE(profile.accepts(*object));
    object->flags |= kFlagTracked;
    EXPECT_TRUE(profile.accepts(*object));

    profile.setRequiredSource(kSourceDetection);
    EXPECT_FALSE(profile.accepts(*object));
    object->source = kSourceDetection;
    EXPECT_TRUE(profile.accepts(*object));

    auto size = std::make_shared<ObjectSizeFilter>(5, 5, true);
    profile.addFilter(size);
    auto small = boxObject(2, 0, 0, 0.05f, 0.05f);
    small->source = kSourceDetection;
    small->flags |= kFlagTracked;
    EXPECT_FALSE(profile.accepts(*small));
    EXPECT_TRUE(profile.accepts(*object));
}

} // namespace
