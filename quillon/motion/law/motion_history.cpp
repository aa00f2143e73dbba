#include "quillon/motion/law/motion_history.h"

#include <algorithm>
#include <cmath>

namespace quillon
{

MotionHistory::MotionHistory(float gain, float latencySeconds) : gain_(0.0f), latency_(0.0f)
{
    setWindow(gain, latencySeconds);
}

void MotionHistory::setWindow(float gain, float latencySeconds)
{
    gain_ = gain;
    latency_ = std::isfinite(latencySeconds) && latencySeconds > 0.0f ? latencySeconds : 0.0f;
    capacity_ = static_cast<std::size_t>(std::ceil(5.0f * latency_));
    outputs_.resize(capacity_);
    steps_.resize(capacity_);
}

void MotionHistory::Ring::push(float v)
{
    if (slots.empty())
        return;
    head = (head + slots.size() - 1) % slots.size();
    slots[head] = v;
    size = std::min(size + 1, slots.size());
}

float MotionHistory::Ring::at(std::size_t i) const
{
    return slots[(head + i) % slots.size()];
}

void MotionHistory::Ring::resize(std::size_t capacity)
{
    // Keep the newest entries in order, newest at slot 0.
    std::vector<float> kept(capacity, 0.0f);
    std::size_t n = std::min(size, capacity);
    for (std::size_t i = 0; i < n; ++i)
        kept[i] = at(i);
    slots = std::move(kept);
    head = 0;
    size = n;
}

void MotionHistory::pushStep(float h)
{
    steps_.push(h);
}

void MotionHistory::pushOutput(float u)
{
    outputs_.push(u);
}

float MotionHistory::correction() const
{
    std::size_t n = std::min(outputs_.size, steps_.size);
    float sum = 0.0f;
    float covered = 0.0f;
    for (std::size_t i = 0; i < n && covered < latency_; ++i) {
        float step = steps_.at(i);
        float part = std::min(step, latency_ - covered);
        sum += outputs_.at(i) * part;
        covered += step;
    }
    return gain_ * sum;
}

void MotionHistory::clear()
{
    outputs_.size = outputs_.head = 0;
    steps_.size = steps_.head = 0;
}

} // namespace quillon
