#pragma once

#include <cstddef>
#include <vector>

namespace quillon
{

// The outputs a controller commanded and the time steps they were applied
// over, newest first, kept for a latency window of L seconds (n = ceil(5 L)
// entries). correction() is the motion already commanded but not yet seen
// in the picture: g * sum(output_i * step_i) over the newest steps that fit
// in L, the last one counted only for its part inside L.
//
// Storage is a fixed ring of n slots per queue: it allocates only when the
// window grows, never per step.
class MotionHistory
{
public:
    MotionHistory(float gain, float latencySeconds);

    void setWindow(float gain, float latencySeconds);
    float gain() const { return gain_; }
    float latency() const { return latency_; }
    std::size_t capacity() const { return capacity_; }
    std::size_t outputCount() const { return outputs_.size; }
    std::size_t stepCount() const { return steps_.size; }

    // Adds a step at the front (oldest entry dropped beyond n).
    void pushStep(float h);
    // Adds a commanded output at the front (oldest entry dropped beyond n).
    void pushOutput(float u);
    float correction() const;
    void clear();

private:
    struct Ring {
        std::vector<float> slots; // slots.size() == capacity
        std::size_t head = 0;     // index of the newest entry
        std::size_t size = 0;
        void push(float v);
        float at(std::size_t i) const; // i = 0 is the newest
        void resize(std::size_t capacity);
    };

    float gain_;
    float latency_;
    std::size_t capacity_ = 0;
    Ring outputs_;
    Ring steps_;
};

} // namespace quillon
