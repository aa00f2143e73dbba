#include "quillon/motion/law/direction_controller.h"

#include <algorithm>
#include <cmath>

#include "quillon/core/log.h"

namespace quillon
{

DirectionController::DirectionController(std::string name, const ControllerGains& gains)
    : name_(std::move(name)), gains_(gains), history_(gains.historyGain, gains.latency)
{
    derive();
}

void DirectionController::derive()
{
    const ControllerGains& g = gains_;
    // Settings accept any non-negative gain: keep the constants finite so a
    // zero gain switches its term off instead of poisoning the output.
    tt_ = g.kd > 0.0f && g.ki > 0.0f ? std::sqrt(g.kd / g.ki) : 1.0f;
    tf_ = g.kp > 0.0f && g.n > 0.0f ? (g.kd / g.kp) / g.n : 0.0f;
}

void DirectionController::setGains(float kp, float ki, float kd)
{
    gains_.kp = kp;
    gains_.ki = ki;
    gains_.kd = kd;
    derive();
}

float DirectionController::step(float error, float h)
{
    const ControllerGains& g = gains_;
    history_.pushStep(h);
    y_ = error - history_.correction();
    r_ = 0.0f;
    h_ = h;

    float denominator = h + tf_;
    if (g.kd != 0.0f && initialised_ && denominator > 0.0f)
        d_ = tf_ / denominator * d_ - g.kd / denominator * (y_ - yOld_);
    else
        d_ = 0.0f;

    e_ = r_ - y_;
    v_ = -(g.kp * e_ + i_ + d_);

    bool inDeadZone = std::fabs(e_) < g.errorDeadZone && std::fabs(v_) < g.outputDeadZone;
    float u = inDeadZone ? 0.0f : std::clamp(v_, g.lowerLimit, g.upperLimit);

    // Back-calculation: the output is the negated PID sum, so the part cut
    // off by the clamp, fed back through Tt, is (v - u) in the sum's own
    // sign. (u - v) would wind the integral further up while clamped.
    if (g.ki > 0.0f && !inDeadZone)
        i_ = i_ + g.ki * h * e_ + (h / tt_) * (v_ - u);
    else
        i_ = 0.0f;
    yOld_ = y_;
    initialised_ = true;

    if (!std::isfinite(u) || !std::isfinite(i_) || !std::isfinite(d_)) {
        if (!warnedNonFinite_)
            quillonLog(LOG_WARNING, "%s controller: non-finite output, sending 0\n", name_.c_str());
        warnedNonFinite_ = true;
        u = 0.0f;
        i_ = d_ = yOld_ = 0.0f;
        initialised_ = false;
    } else {
        warnedNonFinite_ = false;
    }
    history_.pushOutput(u);
    return u;
}

void DirectionController::reset()
{
    i_ = d_ = yOld_ = y_ = r_ = e_ = v_ = h_ = 0.0f;
    initialised_ = false;
    history_.clear();
}

} // namespace quillon
