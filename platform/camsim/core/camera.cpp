#include "camera.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace camsim
{

namespace
{

constexpr double kPi = 3.14159265358979323846;
constexpr long long kMaxStepUs = 2000; // integration step

double degToRad(double d)
{
    return d * kPi / 180.0;
}
double radToDeg(double r)
{
    return r * 180.0 / kPi;
}

// Moves v towards target by at most accel * dt.
double ramp(double v, double target, double accel, double dt)
{
    double dv = target - v;
    double lim = accel * dt;
    return v + std::clamp(dv, -lim, lim);
}

// Speed towards a target that still allows braking to rest at it.
double approach(double err, double vmax, double accel)
{
    double v = std::min(vmax, std::sqrt(2.0 * accel * std::fabs(err)));
    return err < 0 ? -v : v;
}

bool finite(std::initializer_list<double> values)
{
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

} // namespace

const char* speedSpaceName(SpeedSpace space)
{
    switch (space) {
    case SpeedSpace::Proportional:
        return "proportional";
    case SpeedSpace::Alternate:
        return "alternate";
    case SpeedSpace::Degrees:
        return "degrees";
    }
    return "?";
}

Camera::Camera(const CameraLimits& limits, long long startUs) : limits_(limits)
{
    state_.timeUs = startUs;
    state_.zoom = limits_.zoomMin;
    state_.hfov = hfovAt(state_.zoom);
    state_.vfov = vfovAt(state_.zoom);
}

bool Camera::setFovPerSecondAt100(double fovPerSecond)
{
    if (!std::isfinite(fovPerSecond) || fovPerSecond <= 0.0)
        return false;
    limits_.fovPerSecondAt100 = fovPerSecond;
    return true;
}

double Camera::hfovAt(double zoom) const
{
    return radToDeg(2.0 * std::atan(std::tan(degToRad(limits_.hfovWide / 2.0)) / zoom));
}

double Camera::vfovAt(double zoom) const
{
    return radToDeg(2.0 * std::atan(std::tan(degToRad(limits_.vfovWide / 2.0)) / zoom));
}

double Camera::wrapPan(double pan)
{
    double p = std::fmod(pan + 180.0, 360.0);
    if (p < 0)
        p += 360.0;
    // A remainder a hair below zero rounds up to 360 when shifted: the result
    // must stay in [-180, 180).
    if (p >= 360.0)
        p = 0.0;
    return p - 180.0;
}

void Camera::advanceTo(long long tUs)
{
    while (state_.timeUs < tUs) {
        long long dt = std::min(tUs - state_.timeUs, kMaxStepUs);
        step(static_cast<double>(dt) / 1e6);
        state_.timeUs += dt;
    }
}

void Camera::step(double dt)
{
    const CameraLimits& L = limits_;
    double wantPan = 0.0, wantTilt = 0.0, wantZoom = 0.0;
    double ep = 0.0, et = 0.0, ez = 0.0; // remaining distance of an absolute move
    double logZoom = std::log2(state_.zoom);

    if (mode_ == Mode::Continuous) {
        double scale = commanded_.space == SpeedSpace::Alternate ? 50.0 : 1.0;
        if (commanded_.space == SpeedSpace::Degrees) {
            wantPan = commanded_.pan;
            wantTilt = commanded_.tilt;
        } else {
            double unit = scale / 100.0 * L.fovPerSecondAt100;
            wantPan = commanded_.pan * unit * state_.hfov;
            wantTilt = commanded_.tilt * unit * state_.vfov;
        }
        wantZoom = commanded_.zoom / 100.0;
    } else if (mode_ == Mode::Absolute) {
        // With pan stops the head cannot cross the wrap: the direct way.
        ep = panLimits_.limited() ? targetPan_ - state_.pan : wrapPan(targetPan_ - state_.pan);
        et = targetTilt_ - state_.tilt;
        ez = std::log2(targetZoom_) - logZoom;
        wantPan = approach(ep, L.panMaxSpeed * targetSpeed_, L.panAccel);
        wantTilt = approach(et, L.tiltMaxSpeed * targetSpeed_, L.tiltAccel);
        wantZoom = approach(ez, L.zoomMaxRate * targetSpeed_, L.zoomAccel);
        // Close enough: settle on the target exactly.
        if (std::fabs(ep) < 0.01 && std::fabs(et) < 0.01 && std::fabs(ez) < 0.001) {
            state_.pan = wrapPan(targetPan_);
            state_.tilt = targetTilt_;
            state_.zoom = targetZoom_;
            state_.hfov = hfovAt(state_.zoom);
            state_.vfov = vfovAt(state_.zoom);
            state_.panSpeed = state_.tiltSpeed = state_.zoomRate = 0.0;
            state_.status = 0;
            mode_ = Mode::Idle;
            std::uint32_t preset = targetPreset_;
            targetPreset_ = 0;
            if (preset != 0)
                setPresetStatus({1, preset});
            notify(Change::Arrived);
            return;
        }
    }
    wantPan = std::clamp(wantPan, -L.panMaxSpeed, L.panMaxSpeed);
    wantTilt = std::clamp(wantTilt, -L.tiltMaxSpeed, L.tiltMaxSpeed);
    wantZoom = std::clamp(wantZoom, -L.zoomMaxRate, L.zoomMaxRate);

    state_.panSpeed = ramp(state_.panSpeed, wantPan, L.panAccel, dt);
    state_.tiltSpeed = ramp(state_.tiltSpeed, wantTilt, L.tiltAccel, dt);
    state_.zoomRate = ramp(state_.zoomRate, wantZoom, L.zoomAccel, dt);
    if (mode_ == Mode::Absolute) {
        // Land on the target instead of stepping past it.
        // Land on the target instead of stepping past it, and stay there while
        // the other axes finish.
        auto land = [dt](double v, double err, double near) {
            bool past = v * err > 0 && std::fabs(v) * dt > std::fabs(err);
            return past || std::fabs(err) < near ? err / dt : v;
        };
        state_.panSpeed = land(state_.panSpeed, ep, 0.01);
        state_.tiltSpeed = land(state_.tiltSpeed, et, 0.01);
        state_.zoomRate = land(state_.zoomRate, ez, 0.001);
    }

    std::uint32_t status = 0;
    double pan = state_.pan + state_.panSpeed * dt;
    if (panLimits_.limited() && (pan > panLimits_.max || pan < panLimits_.min)) {
        pan = std::clamp(pan, panLimits_.min, panLimits_.max);
        state_.panSpeed = 0.0;
        status |= kStatusAtLimit;
    }
    state_.pan = panLimits_.limited() ? pan : wrapPan(pan);
    double tilt = state_.tilt + state_.tiltSpeed * dt;
    if (tilt > L.tiltMax || tilt < L.tiltMin) {
        tilt = std::clamp(tilt, L.tiltMin, L.tiltMax);
        state_.tiltSpeed = 0.0;
        status |= kStatusAtLimit;
    }
    state_.tilt = tilt;
    double lz = logZoom + state_.zoomRate * dt;
    double lzMin = std::log2(L.zoomMin), lzMax = std::log2(L.zoomMax);
    if (lz > lzMax || lz < lzMin) {
        lz = std::clamp(lz, lzMin, lzMax);
        state_.zoomRate = 0.0;
        status |= kStatusAtLimit;
    }
    state_.zoom = std::exp2(lz);
    state_.hfov = hfovAt(state_.zoom);
    state_.vfov = vfovAt(state_.zoom);

    if (std::fabs(state_.panSpeed) > 1e-9)
        status |= kStatusPanMoving;
    if (std::fabs(state_.tiltSpeed) > 1e-9)
        status |= kStatusTiltMoving;
    if (std::fabs(state_.zoomRate) > 1e-9)
        status |= kStatusZoomMoving;
    if (mode_ == Mode::Absolute)
        status |= kStatusPositioning;
    state_.status = status;
}

bool Camera::continuousMove(double pan, double tilt, double zoom, SpeedSpace space, long long nowUs)
{
    if (!finite({pan, tilt, zoom}))
        return false;
    advanceTo(nowUs);
    commanded_ = {pan, tilt, zoom, space};
    mode_ = Mode::Continuous;
    targetPreset_ = 0;
    setPresetStatus({});
    notify(Change::Commanded);
    return true;
}

bool Camera::absoluteMove(double pan, double tilt, double zoom, double speed, long long nowUs)
{
    if (!finite({pan, tilt, zoom, speed}))
        return false;
    advanceTo(nowUs);
    targetPan_ = panTarget(pan);
    targetTilt_ = std::clamp(tilt, limits_.tiltMin, limits_.tiltMax);
    targetZoom_ = std::clamp(zoom, limits_.zoomMin, limits_.zoomMax);
    targetSpeed_ = speed > 0.0 ? std::min(speed, 1.0) : 1.0;
    commanded_ = {};
    mode_ = Mode::Absolute;
    targetPreset_ = 0;
    setPresetStatus({});
    notify(Change::Commanded);
    return true;
}

bool Camera::relativeMove(double dpan, double dtilt, double zoomFactor, double speed,
                          long long nowUs)
{
    if (!finite({dpan, dtilt, zoomFactor, speed}) || zoomFactor <= 0.0)
        return false;
    advanceTo(nowUs);
    double pan = state_.pan + dpan;
    if (panLimits_.limited()) // against the stop, not round the wrap
        pan = std::clamp(pan, panLimits_.min, panLimits_.max);
    return absoluteMove(pan, state_.tilt + dtilt, state_.zoom * zoomFactor, speed, nowUs);
}

bool Camera::gotoPreset(std::uint32_t preset, double pan, double tilt, double zoom, double speed,
                        long long nowUs)
{
    if (!absoluteMove(pan, tilt, zoom, speed, nowUs))
        return false;
    targetPreset_ = preset;
    setPresetStatus({2, preset});
    return true;
}

void Camera::stop(long long nowUs)
{
    advanceTo(nowUs);
    commanded_ = {};
    mode_ = Mode::Continuous; // decelerates to rest
    targetPreset_ = 0;
    setPresetStatus({});
    notify(Change::Commanded);
}

bool Camera::setPose(double pan, double tilt, double zoom, long long nowUs)
{
    if (!finite({pan, tilt, zoom}))
        return false;
    advanceTo(nowUs);
    state_.pan = panTarget(pan);
    state_.tilt = std::clamp(tilt, limits_.tiltMin, limits_.tiltMax);
    state_.zoom = std::clamp(zoom, limits_.zoomMin, limits_.zoomMax);
    state_.hfov = hfovAt(state_.zoom);
    state_.vfov = vfovAt(state_.zoom);
    state_.panSpeed = state_.tiltSpeed = state_.zoomRate = 0.0;
    state_.status = 0;
    commanded_ = {};
    mode_ = Mode::Idle;
    targetPreset_ = 0;
    setPresetStatus({});
    notify(Change::Commanded);
    return true;
}

double Camera::panTarget(double pan) const
{
    if (!panLimits_.limited())
        return wrapPan(pan);
    if (pan >= panLimits_.min && pan <= panLimits_.max)
        return pan;
    return std::clamp(wrapPan(pan), panLimits_.min, panLimits_.max);
}

bool Camera::setPanLimits(const PanLimits& limits, long long nowUs)
{
    if (!finite({limits.min, limits.max}) || limits.min >= limits.max || limits.min < -180.0 ||
        limits.max > 180.0)
        return false;
    advanceTo(nowUs);
    panLimits_ = limits;
    if (targetPan_ != panTarget(targetPan_))
        targetPan_ = panTarget(targetPan_);
    if (state_.pan != panTarget(state_.pan)) {
        state_.pan = panTarget(state_.pan);
        state_.panSpeed = 0.0;
        notify(Change::Commanded);
    }
    return true;
}

void Camera::setPresetStatus(PresetStatus status)
{
    if (status == presetStatus_)
        return;
    presetStatus_ = status;
    notify(Change::PresetStatus);
}

int Camera::addListener(Listener listener)
{
    int id = nextListener_++;
    listeners_.emplace(id, std::move(listener));
    return id;
}

void Camera::removeListener(int id)
{
    listeners_.erase(id);
}

void Camera::notify(Change change)
{
    // Copy: a listener may add or remove listeners.
    std::vector<Listener> copy;
    copy.reserve(listeners_.size());
    for (auto& [id, l] : listeners_)
        copy.push_back(l);
    for (auto& l : copy)
        l(change);
}

} // namespace camsim
