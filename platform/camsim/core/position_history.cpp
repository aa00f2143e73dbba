#include "position_history.h"

#include <algorithm>
#include <cmath>

namespace camsim
{

namespace
{

CameraState interpolate(const CameraState& a, const CameraState& b, long long t)
{
    if (b.timeUs <= a.timeUs)
        return b;
    double f = static_cast<double>(t - a.timeUs) / static_cast<double>(b.timeUs - a.timeUs);
    auto lerp = [f](double x, double y) { return x + (y - x) * f; };
    CameraState s = f < 0.5 ? a : b; // status word from the nearer sample
    s.timeUs = t;
    double dpan = b.pan - a.pan;
    if (dpan > 180.0)
        dpan -= 360.0;
    else if (dpan < -180.0)
        dpan += 360.0;
    double pan = a.pan + dpan * f;
    if (pan >= 180.0)
        pan -= 360.0;
    else if (pan < -180.0)
        pan += 360.0;
    s.pan = pan;
    s.tilt = lerp(a.tilt, b.tilt);
    s.zoom = lerp(a.zoom, b.zoom);
    s.hfov = lerp(a.hfov, b.hfov);
    s.vfov = lerp(a.vfov, b.vfov);
    s.panSpeed = lerp(a.panSpeed, b.panSpeed);
    s.tiltSpeed = lerp(a.tiltSpeed, b.tiltSpeed);
    s.zoomRate = lerp(a.zoomRate, b.zoomRate);
    if (a.status != 0 || b.status != 0)
        s.status = a.status | b.status;
    return s;
}

} // namespace

PositionHistory::PositionHistory(long long windowUs, long long minSpacingUs)
    : windowUs_(windowUs), minSpacingUs_(minSpacingUs)
{
}

void PositionHistory::record(const CameraState& state, bool force)
{
    if (!samples_.empty()) {
        long long last = samples_.back().timeUs;
        if (state.timeUs < last)
            return;
        if (state.timeUs == last) {
            samples_.back() = state;
            return;
        }
        if (state.timeUs - last < minSpacingUs_) {
            // Bursts of commands must not grow the cache: a forced sample
            // takes the newest one's place instead.
            if (force && samples_.size() > 1)
                samples_.back() = state;
            return;
        }
    }
    samples_.push_back(state);
    // Keep one sample at or before the window start so its edge interpolates.
    long long start = state.timeUs - windowUs_;
    while (samples_.size() > 2 && samples_[1].timeUs <= start)
        samples_.pop_front();
}

long long PositionHistory::oldestAvailable(long long nowUs) const
{
    long long start = nowUs - windowUs_;
    if (samples_.empty())
        return nowUs;
    return std::max(start, samples_.front().timeUs);
}

std::optional<CameraState> PositionHistory::at(long long tUs, const CameraState& now) const
{
    if (tUs > now.timeUs || tUs < oldestAvailable(now.timeUs))
        return std::nullopt;
    if (samples_.empty() || tUs >= samples_.back().timeUs) {
        if (samples_.empty() || tUs == now.timeUs)
            return tUs == now.timeUs ? std::optional<CameraState>(now) : std::nullopt;
        return interpolate(samples_.back(), now, tUs);
    }
    // First sample later than t; samples are in time order.
    auto it = std::upper_bound(samples_.begin(), samples_.end(), tUs,
                               [](long long t, const CameraState& s) { return t < s.timeUs; });
    if (it == samples_.begin())
        return std::nullopt;
    return interpolate(*(it - 1), *it, tUs);
}

} // namespace camsim
