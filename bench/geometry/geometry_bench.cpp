// Hot paths of the geometry: point-in-polygon on a zone-sized polygon, and
// picture -> pan/tilt conversions through the camera-geometry library.
#include <camgeom.h>

#include <cmath>
#include <vector>

#include <benchmark/benchmark.h>

#include "quillon/config/geometry/camera_geometry.h"
#include "quillon/config/geometry/coordinates.h"
#include "quillon/config/geometry/picture_format.h"
#include "quillon/config/geometry/polygon.h"
#include "quillon/config/geometry/position_record.h"

namespace
{

using quillon::Point;
using quillon::Polygon;

// A 10-point star-like zone around (0.5, 0.5).
Polygon tenPointPolygon()
{
    std::vector<Point> pts;
    for (int i = 0; i < 10; ++i) {
        const double a = i * 2 * M_PI / 10;
        const double r = i % 2 ? 0.2 : 0.4;
        pts.push_back({float(0.5 + r * std::cos(a)), float(0.5 + r * std::sin(a))});
    }
    return Polygon(std::move(pts));
}

// Probe points spread over the unit square, inside and outside.
std::vector<Point> probes()
{
    std::vector<Point> p;
    for (int i = 0; i < 64; ++i)
        p.push_back({float((i * 37) % 64) / 64.0f, float((i * 11) % 64) / 64.0f});
    return p;
}

void BM_PointInPolygon10(benchmark::State& state)
{
    const Polygon polygon = tenPointPolygon();
    const auto pts = probes();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(polygon.contains(pts[i++ & 63]));
    }
}
BENCHMARK(BM_PointInPolygon10);

camgeom_context* makeContext()
{
    camgeom_context* ctx = camgeom_context_create_f();
    camgeom_set_pantilt_f(ctx, 35, -40);
    camgeom_set_horiz_fov_f(ctx, 45);
    camgeom_set_vert_fov_f(ctx, 25.3f);
    camgeom_set_pic_rot(ctx, 0);
    camgeom_set_pic_dim(ctx, 1920, 1080);
    return ctx;
}

void BM_CamgeomPixelToPanTilt(benchmark::State& state)
{
    camgeom_context* ctx = makeContext();
    const auto pts = probes();
    std::size_t i = 0;
    float pan, tilt;
    for (auto _ : state) {
        const Point p = pts[i++ & 63];
        benchmark::DoNotOptimize(camgeom_to_ptz_f(ctx, p.x * 1920, p.y * 1080, &pan, &tilt));
        benchmark::DoNotOptimize(pan);
        benchmark::DoNotOptimize(tilt);
    }
    camgeom_context_delete(ctx);
}
BENCHMARK(BM_CamgeomPixelToPanTilt);

void BM_CamgeomPanTiltToPixel(benchmark::State& state)
{
    camgeom_context* ctx = makeContext();
    std::vector<Point> dirs;
    for (const Point& p : probes()) {
        float pan, tilt;
        camgeom_to_ptz_f(ctx, p.x * 1920, p.y * 1080, &pan, &tilt);
        dirs.push_back({pan, tilt});
    }
    std::size_t i = 0;
    int x, y;
    for (auto _ : state) {
        const Point d = dirs[i++ & 63];
        benchmark::DoNotOptimize(camgeom_to_pixel_f(ctx, &x, &y, d.x, d.y));
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(y);
    }
    camgeom_context_delete(ctx);
}
BENCHMARK(BM_CamgeomPanTiltToPixel);

// The daemon's full picture -> pan/tilt conversion (wrapper + library).
void BM_PictureToPanTilt(benchmark::State& state)
{
    quillon::PositionRecord pos;
    pos.pan = 35;
    pos.tilt = -40;
    pos.horizontalFov = 45;
    pos.verticalFov = 25.3f;
    const quillon::PictureFormat format{0, 1920, 1080};
    const quillon::CameraGeometry geometry(pos, format);
    const auto pts = probes();
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(quillon::pictureToPanTilt(pts[i++ & 63], pos, format, geometry));
}
BENCHMARK(BM_PictureToPanTilt);

// A 10-point zone turned into the picture (ten conversions and the overlap).
void BM_VisiblePolygon10(benchmark::State& state)
{
    quillon::PositionRecord pos;
    pos.pan = 0;
    pos.tilt = -20;
    pos.horizontalFov = 60;
    pos.verticalFov = 34;
    const quillon::PictureFormat format{0, 1920, 1080};
    const quillon::CameraGeometry geometry(pos, format);
    const Polygon pictureZone = tenPointPolygon();
    std::vector<Point> zone;
    for (const Point& p : pictureZone.points())
        zone.push_back(quillon::pictureToPanTilt(p, pos, format, geometry));
    const Polygon panTiltZone(std::move(zone));
    for (auto _ : state)
        benchmark::DoNotOptimize(quillon::visiblePolygon(panTiltZone, quillon::ViewMode::Picture,
                                                         pos, format, geometry));
}
BENCHMARK(BM_VisiblePolygon10);

} // namespace

BENCHMARK_MAIN();
