#pragma once

// Median and 99th percentile of timed calls, for the benchmark drivers that
// print their own figures.
#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace benchsupport
{

struct Figures {
    double median = 0, p99 = 0;
};

inline Figures figures(std::vector<double> us)
{
    if (us.empty())
        return {};
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

// Wall time of one call in microseconds.
inline double elapsedUs(const std::function<void()>& fn)
{
    auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace benchsupport
