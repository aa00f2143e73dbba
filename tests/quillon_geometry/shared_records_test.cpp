// Process-wide picture format and camera position: defaults, updates, and
// whole records seen by a reader while another thread writes.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "quillon/config/geometry/camera_position.h"
#include "quillon/config/geometry/picture_format.h"

namespace quillon
{
namespace
{

TEST(SharedRecords, PictureFormatDefaultsAndUpdates)
{
    EXPECT_EQ(pictureFormat(), (PictureFormat{-1, 1920, 1080}));
    setPictureFormat({180, 1280, 720});
    EXPECT_EQ(pictureFormat(), (PictureFormat{180, 1280, 720}));
    setPictureFormat({});
}

TEST(SharedRecords, CameraPositionInvalidUntilSet)
{
    EXPECT_FALSE(cameraPosition().valid);
    PositionRecord r;
    r.pan = 12;
    r.horizontalFov = 40;
    r.status = 0x10;
    setCameraPosition(r);
    EXPECT_TRUE(cameraPosition().valid);
    EXPECT_EQ(cameraPosition().record, r);
    invalidateCameraPosition();
    EXPECT_FALSE(cameraPosition().valid);
}

TEST(SharedRecords, ReadersSeeWholeRecords)
{
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            const float v = float(i % 1000);
            PositionRecord r{std::uint32_t(i % 1000), v, v, v, v, v, v, v};
            setCameraPosition(r);
        }
    });
    bool torn = false;
    for (int i = 0; i < 20000 && !torn; ++i) {
        const PositionRecord r = cameraPosition().record;
        torn = r.pan != r.tilt || r.tilt != r.zoomFactor || float(r.status) != r.panSpeed;
    }
    stop = true;
    writer.join();
    EXPECT_FALSE(torn);
    invalidateCameraPosition();
}

} // namespace
} // namespace quillon
