#pragma once

#include <cstdint>
#include <functional>
#include <map>

namespace camsim
{

// Mechanics of the simulated head. Angles in degrees, angular speeds in
// degrees per second; zoom as a factor (1 = widest) whose rate is counted in
// stops (doublings) per second.
struct CameraLimits {
    double tiltMin = -90.0;
    double tiltMax = 20.0;
    double zoomMin = 1.0;
    double zoomMax = 20.0;
    double hfovWide = 60.0; // horizontal field of view at zoom 1
    double vfovWide = 34.0; // vertical field of view at zoom 1
    double panMaxSpeed = 180.0;
    double tiltMaxSpeed = 120.0;
    double panAccel = 720.0;
    double tiltAccel = 720.0;
    double zoomMaxRate = 2.0; // stops per second
    double zoomAccel = 16.0;  // stops per second squared
    // Pan/tilt speed 100 in the proportional space, in fields of view per
    // second: the mechanical maximum over the field of view at zoom 1
    // (180 deg/s over 60 degrees), so that 100 is full speed at the widest
    // zoom and the same picture speed at every zoom.
    double fovPerSecondAt100 = 3.0;
};

// Mechanical pan stops. Without them pan turns endlessly and wraps in
// [-180, 180); with them it stays in [min, max] (min < max, both inside
// [-180, 180]) and never crosses the wrap.
struct PanLimits {
    double min = -180.0;
    double max = 180.0;
    bool limited() const { return min > -180.0 || max < 180.0; }
};

// How continuous-move speeds are read.
//  Proportional (default): pan/tilt 100 = CameraLimits::fovPerSecondAt100
//    fields of view per second at the current zoom (horizontal for pan,
//    vertical for tilt), limited by the mechanical maximum.
//  Alternate: pan/tilt values are Proportional values divided by 50, i.e. a
//    value v moves like 50 * v in Proportional.
//  Degrees: pan/tilt in degrees per second (used by simulator extensions).
// In every space a zoom speed of 100 doubles the zoom factor per second, -100
// halves it.
enum class SpeedSpace { Proportional, Alternate, Degrees };

const char* speedSpaceName(SpeedSpace space);

// Bits of the status word reported with every pose.
constexpr std::uint32_t kStatusPanMoving = 0x01;
constexpr std::uint32_t kStatusTiltMoving = 0x02;
constexpr std::uint32_t kStatusPositioning = 0x04; // absolute, relative or preset move under way
constexpr std::uint32_t kStatusAtLimit = 0x08;     // pan, tilt or zoom stopped at a limit
constexpr std::uint32_t kStatusZoomMoving = 0x10;
constexpr std::uint32_t kStatusMovingMask = 0x13;

// The camera at one moment.
struct CameraState {
    long long timeUs = 0; // CLOCK_MONOTONIC
    double pan = 0.0;     // [-180, 180)
    double tilt = 0.0;
    double zoom = 1.0;
    double hfov = 60.0;
    double vfov = 34.0;
    double panSpeed = 0.0;  // degrees per second, actual
    double tiltSpeed = 0.0; // degrees per second, actual
    double zoomRate = 0.0;  // stops per second, actual
    std::uint32_t status = 0;
};

// The last continuous move as commanded (raw values in their space).
struct CommandedSpeeds {
    double pan = 0.0;
    double tilt = 0.0;
    double zoom = 0.0;
    SpeedSpace space = SpeedSpace::Proportional;
};

// "PresetStatus": state 2 while a goto-preset move is under way, 1 while the
// camera rests at the preset it went to, 0 otherwise; `preset` is that preset.
struct PresetStatus {
    std::uint32_t state = 0;
    std::uint32_t preset = 0;
    bool operator==(const PresetStatus&) const = default;
};

// The simulated pan/tilt/zoom head. Time only moves forward through
// advanceTo(); every command first advances to its own time so that the pose
// stays continuous. Single-threaded: it lives on the simulator's main loop.
class Camera
{
public:
    enum class Change { Commanded, Arrived, PresetStatus };
    using Listener = std::function<void(Change)>;

    explicit Camera(const CameraLimits& limits = {}, long long startUs = 0);

    const CameraLimits& limits() const { return limits_; }
    // Changes the proportional speed unit; false (and no change) unless it is
    // a positive finite number.
    bool setFovPerSecondAt100(double fovPerSecond);
    double hfovAt(double zoom) const;
    double vfovAt(double zoom) const;

    // Integrates the motion up to `tUs` (ignored when not later than now).
    void advanceTo(long long tUs);
    const CameraState& state() const { return state_; }

    // Commands. Each returns false (and changes nothing) for non-finite input.
    bool continuousMove(double pan, double tilt, double zoom, SpeedSpace space, long long nowUs);
    // Moves to an absolute pose at `speed` (0..1] of the maximum speeds.
    bool absoluteMove(double pan, double tilt, double zoom, double speed, long long nowUs);
    // Moves by pan/tilt degrees and multiplies the zoom factor by `zoomFactor`.
    bool relativeMove(double dpan, double dtilt, double zoomFactor, double speed, long long nowUs);
    bool gotoPreset(std::uint32_t preset, double pan, double tilt, double zoom, double speed,
                    long long nowUs);
    void stop(long long nowUs);
    // Places the camera at a pose at once (start-up, scenarios).
    bool setPose(double pan, double tilt, double zoom, long long nowUs);

    // Pan stops; false (nothing changed) unless min < max inside [-180, 180].
    // The camera is moved inside them at once.
    bool setPanLimits(const PanLimits& limits, long long nowUs);
    const PanLimits& panLimits() const { return panLimits_; }

    const CommandedSpeeds& commanded() const { return commanded_; }
    PresetStatus presetStatus() const { return presetStatus_; }
    bool positioning() const { return mode_ == Mode::Absolute; }

    // Listeners are told after a command took effect, when an absolute move
    // arrives, and when the preset status changes.
    int addListener(Listener listener);
    void removeListener(int id);

private:
    enum class Mode { Idle, Continuous, Absolute };
    void step(double dt);
    void setPresetStatus(PresetStatus status);
    void notify(Change change);
    static double wrapPan(double pan);
    double panTarget(double pan) const;

    PanLimits panLimits_;
    CameraLimits limits_;
    CameraState state_;
    Mode mode_ = Mode::Idle;
    CommandedSpeeds commanded_;
    double targetPan_ = 0.0, targetTilt_ = 0.0, targetZoom_ = 1.0, targetSpeed_ = 1.0;
    std::uint32_t targetPreset_ = 0;
    PresetStatus presetStatus_;
    std::map<int, Listener> listeners_;
    int nextListener_ = 1;
};

} // namespace camsim
