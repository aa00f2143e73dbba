#pragma once

#include <deque>
#include <optional>

#include "camera.h"

namespace camsim
{

// The "data cache": the camera state sampled over the last `windowUs`
// (10 s) of CLOCK_MONOTONIC. at(t) answers where the camera was at time t by
// linear interpolation between the two samples around t (pan across the
// +-180 wrap the short way); times before the window, before the first sample
// or after the newest state are refused.
class PositionHistory
{
public:
    explicit PositionHistory(long long windowUs = 10'000'000, long long minSpacingUs = 1000);

    // Appends a sample. A sample closer than the minimum spacing to the newest
    // one is dropped, or with `force` replaces it (commands keep their corner
    // of the pose curve without growing the cache); samples older than the
    // newest one are ignored. Samples that fell out of the window are
    // discarded.
    void record(const CameraState& state, bool force = false);

    // The pose at `tUs`; `now` is the current state (not necessarily recorded)
    // and closes the interval after the newest sample.
    std::optional<CameraState> at(long long tUs, const CameraState& now) const;

    long long windowUs() const { return windowUs_; }
    std::size_t size() const { return samples_.size(); }
    // Oldest time that at() answers, given the current time.
    long long oldestAvailable(long long nowUs) const;

private:
    long long windowUs_;
    long long minSpacingUs_;
    std::deque<CameraState> samples_;
};

} // namespace camsim
