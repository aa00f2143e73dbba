#pragma once

#include <string>

#include "quillon/motion/law/motion_history.h"

namespace quillon
{

// Tuning of one direction controller.
struct ControllerGains {
    float kp = 0.0f;
    float ki = 0.0f;
    float kd = 0.0f;
    float n = 2.0f;            // derivative filter divisor
    float lowerLimit = -80.0f; // output clamp
    float upperLimit = 80.0f;
    float errorDeadZone = 0.02f;
    float outputDeadZone = 1.0f;
    float historyGain = 0.04f;
    float latency = 0.0f; // motion-history window, seconds
};

// A PID controller for one direction (pan or tilt) with a filtered
// derivative, back-calculation anti-windup and a dead zone: within the error
// dead zone, while the raw output also stays within the output dead zone, it
// outputs 0 and forgets its integral.
//
// Derived constants: Tt = sqrt(kd / ki) (1 when kd or ki is 0) and
// Tf = (kd / kp) / N (0 when kp is 0), recomputed whenever the gains change.
// Owned by the control law; runs on the bus thread only.
class DirectionController
{
public:
    DirectionController(std::string name, const ControllerGains& gains);

    // One update with error `error` (image units) over `h` seconds; returns
    // the clamped output. A non-finite result is sent as 0 (and the state
    // that produced it cleared), with one warning until outputs are finite
    // again.
    float step(float error, float h);
    void reset();

    void setGains(float kp, float ki, float kd);
    void setOutputDeadZone(float zone) { gains_.outputDeadZone = zone; }

    const std::string& name() const { return name_; }
    const ControllerGains& gains() const { return gains_; }
    float tt() const { return tt_; }
    float tf() const { return tf_; }
    float integral() const { return i_; }
    float derivative() const { return d_; }
    float lastError() const { return e_; }
    float lastRawOutput() const { return v_; }
    bool initialised() const { return initialised_; }
    const MotionHistory& history() const { return history_; }

private:
    void derive();

    std::string name_;
    ControllerGains gains_;
    float tt_ = 1.0f;
    float tf_ = 0.0f;
    float i_ = 0.0f;
    float d_ = 0.0f;
    float yOld_ = 0.0f;
    float y_ = 0.0f;
    float r_ = 0.0f;
    float h_ = 0.0f;
    float e_ = 0.0f;
    float v_ = 0.0f;
    bool initialised_ = false;
    bool warnedNonFinite_ = false;
    MotionHistory history_;
};

} // namespace quillon
