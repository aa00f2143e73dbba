// One step of the control law (predictor, both controllers, zoom rule) on a
// 4-point outline, and the heap allocations it makes once warmed up.
#include <atomic>
#include <cstdlib>
#include <new>

#include <benchmark/benchmark.h>

#include "quillon/config/geometry/polygon.h"
#include "quillon/motion/law/control_law.h"

#if defined(__GNUC__) && !defined(__clang__)
// operator delete below pairs with our operator new, which uses malloc.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace
{

std::atomic<long> allocations{0};

} // namespace

// Counts every allocation of the process (the benchmark's own included, so
// the count is taken around the measured loop only).
void* operator new(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
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

namespace
{

void BM_LawStep(benchmark::State& state)
{
    using namespace quillon;
    ControlLaw law;
    TargetPredictor predictor;
    ControlTiming timing;
    timing.zoomHoldUs = 1; // past the hold: the zoom rule runs in full
    PositionRecord position;
    position.horizontalFov = 60.0f;
    position.verticalFov = 34.0f;
    position.zoomFactor = 2.0f;
    position.panSpeed = 5.0f;
    Polygon outline = Polygon::box(0.1f, 0.3f, -0.2f, 0.2f);
    float phase = 0.0f;
    // Warm up, then count allocations over the measured steps.
    for (int i = 0; i < 100; ++i)
        law.computeSpeeds(LawTarget{outline, 0.1f, 0.0f}, position, timing, predictor);
    long before = allocations.load();
    for (auto _ : state) {
        timing.sceneTimeUs += 66'667;
        timing.interval = 0.066667;
        position.panSpeed = 5.0f + phase;
        phase = phase > 1.0f ? 0.0f : phase + 0.01f;
        Speeds s = law.computeSpeeds(LawTarget{outline, 0.1f, 0.0f}, position, timing, predictor);
        benchmark::DoNotOptimize(s);
    }
    state.counters["allocs_per_step"] =
        static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_LawStep)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
