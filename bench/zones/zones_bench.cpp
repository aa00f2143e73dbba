// The per-scene candidate list of the default tracking profile: 20 objects
// against 10 zones of 10 points, a third of the objects inside some zone,
// no zone event changing state. Prints the median and 99th percentile of
// one pass, through the camera-geometry library and with the linear
// conversions, and the heap allocations of one pass.
//
//   ./bench_zones [passes]
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

#include "quillon/config/geometry/camera_geometry.h"
#include "quillon/config/geometry/picture_format.h"
#include "quillon/config/geometry/position_record.h"
#include "quillon/config/zones/zone_profile_container.h"
#include "quillon/tracking/filters/tracking_profile.h"
#include "quillon/tracking/objects/tracker_scene.h"

namespace
{
std::atomic<long> allocations{0};
} // namespace

void* operator new(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

using namespace quillon;

namespace
{

constexpr int kObjects = 20;
constexpr int kZones = 10;
constexpr int kPoints = 10;

// Ten-point zones around a row of centres across the view (pan/tilt).
void addZones(TrackingProfile& profile)
{
    for (int z = 0; z < kZones; ++z) {
        ZoneProfileSettings zone;
        zone.id = z + 1;
        zone.name = "zone";
        const float centrePan = -25.0f + 5.5f * float(z);
        const float centreTilt = z % 2 == 0 ? 8.0f : -8.0f;
        for (int i = 0; i < kPoints; ++i) {
            const float a = float(i) * 2.0f * 3.14159265f / float(kPoints);
            const float r = i % 2 == 0 ? 2.0f : 1.6f;
            zone.points.push_back({centrePan + r * std::cos(a), centreTilt + r * std::sin(a)});
        }
        profile.zones()->receive(zone, 0);
    }
}

// Every third object sits in a zone (device coordinates: pan / 30, tilt / 17).
void addObjects(TrackerScene& scene)
{
    for (int i = 0; i < kObjects; ++i) {
        auto object = std::make_shared<KineObject>();
        object->id = i + 1;
        object->source = kSourceScene;
        float u, v;
        if (i % 3 == 0) {
            const int z = (i / 3) % kZones;
            u = (-25.0f + 5.5f * float(z)) / 30.0f;
            v = (z % 2 == 0 ? 8.0f : -8.0f) / 17.0f;
        } else {
            u = -0.9f + 0.09f * float(i);
            v = 0.02f; // between the two rows of zones
        }
        object->shape = Polygon::box(u - 0.06f, u + 0.06f, v - 0.08f, v + 0.08f);
        object->setTime(0);
        object->setConfidence(5);
        scene.addObject(object, true);
    }
}

void run(const char* label, bool library, int passes)
{
    PositionRecord position;
    position.horizontalFov = 60.0f;
    position.verticalFov = 34.0f;
    PictureFormat format;
    format.rotation = library ? 0 : -1;
    CameraGeometry geometry(position, format);
    TrackingProfile profile(1, false);
    addZones(profile);
    TrackerScene scene(1000000);
    addObjects(scene);

    // First pass: the zones with objects enter their moving state.
    std::size_t found = profile.candidates(scene, position, format, geometry, 1).size();
    std::vector<double> times;
    times.reserve(std::size_t(passes));
    long allocationsBefore = allocations.load();
    for (int i = 0; i < passes; ++i) {
        const auto start = std::chrono::steady_clock::now();
        auto list = profile.candidates(scene, position, format, geometry, 2 + i);
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        if (list.size() != found)
            std::abort();
    }
    const double perPass = double(allocations.load() - allocationsBefore) / double(passes);
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    const double p99 = times[times.size() * 99 / 100];
    std::printf("%-12s candidates %zu  median %.2f us  p99 %.2f us (%.2fx)  allocations/pass %.1f "
                "(%d object-zone pairs)\n",
                label, found, median, p99, p99 / median, perPass, kObjects * kZones);
}

} // namespace

int main(int argc, char** argv)
{
    // No event service: declarations fail at once and nothing is sent.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bench-zones", 1);
    const int passes = argc > 1 ? std::max(100, atoi(argv[1])) : 20000;
    run("libcamgeom", true, passes);
    run("linear", false, passes);
    return 0;
}
