#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "quillon/config/geometry/camera_geometry.h"
#include "quillon/config/geometry/position_record.h"
#include "quillon/core/message_receiver.h"
#include "quillon/core/timer_class.h"
#include "quillon/events/producer/state_event_handler.h"
#include "quillon/motion/law/control_law.h"
#include "quillon/motion/link/driver_check.h"
#include "quillon/motion/link/ptz_client.h"
#include "quillon/tracking/objects/tracker_scene.h"

namespace quillon
{

class GenericTracker;
class TrackerPositions;
class TrackingProfile;
struct PictureFormat;

// Running minimum and maximum of pan, tilt and zoom values (speeds sent, or
// positions seen), for the statistics of one track.
struct Extremes {
    static constexpr double kLargest = 3.4028234663852886e38;
    double minimum[3] = {kLargest, kLargest, kLargest};
    double maximum[3] = {-kLargest, -kLargest, -kLargest};

    void fold(double pan, double tilt, double zoom);
    void reset() { *this = Extremes(); }
};

// The controller of the daemon: one instance, for camera channel 1, created
// by the TrackerService with the debug flag while tracking is on and
// subscribed on the bus.
//
// It owns the active strategy (a GenericTracker built once from the
// trackerType setting), which folds feed messages into its scene and calls
// onScene() with a report scene after each one. Per scene the Tracker reads
// the camera position at the scene time, finishes the driver handshake,
// publishes a status snapshot (AnalyzedVideoMessage), then selects a target
// in the default zone profile's candidates, follows it through the control
// law, or gives it up: zoom out, wait timeoutToHome seconds, stop and return
// to the armed preset. States: 0 idle, 1 tracking, 2 lost.
//
// A watch every 250 ms (a TrackerTickMessage posted from the timer thread)
// stops a camera that moves on a feed that went silent: after 1 s without a
// scene it sends the zero move and gives the target up; the wait before
// going home then runs on the monotonic clock.
//
// Threads: constructed, driven and destroyed on the bus dispatch thread
// (handleMessage, onScene, the strategy's slots, every PTZ-link and preset
// call); prepareToShutdown may come from the main thread at exit and waits
// for a running step (stepLock_). The watch timer only posts; the process-wide status record is
// written under its lock for the API thread. Events: AutoTriggers (declared
// at construction, off and undeclared at shutdown) and AutotrackingState
// (sent on change with the scene time, switched by tracking_event_state_t).
class Tracker : public MessageReceiver
{
public:
    enum State { kIdle = 0, kTracking = 1, kLost = 2 };
    static constexpr std::int64_t kSilentFeedUs = 1000000;
    static constexpr int kWatchMs = 250;

    explicit Tracker(bool debug);
    ~Tracker() override;

    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override;

    // The per-update entry the strategy calls with its report scene.
    void onScene(TrackerScene& scene);

    // Replaces the strategy (subscribing it on the bus) and sets the zone
    // profile's required source (-1 leaves it); later trackerType settings
    // only log. The trackerType setting builds its strategy through this.
    void useStrategy(std::shared_ptr<GenericTracker> strategy, int source);
    // Starts following `id` (force when `preset` is -1); true on success.
    bool startTracking(int id, int preset);
    void stopTracking(bool exclude, bool stop);

    int channel() const { return channel_; }
    bool debug() const { return debug_; }
    int state() const { return state_; }
    bool autotrackingEnabled() const { return autotrackingEnabled_; }
    bool ptzMoving() const { return ptzMoving_; }
    const std::shared_ptr<GenericTracker>& strategy() const { return strategy_; }
    const std::map<int, int>& typeStatistics() const { return typeStats_; }
    const ControlLaw& law() const { return law_; }
    const DriverCheck& driverCheck() const { return driverCheck_; }
    // Zone profile used for target selection (id 1): its filters and trigger
    // zones follow the settings and the zone-profile store through the bus.
    const std::shared_ptr<TrackingProfile>& defaultProfile() const { return defaultProfile_; }

    // Publishes tracking on or off (when the state event is enabled).
    void reportTracking(bool tracking);

private:
    bool handleEventSettings(const std::shared_ptr<Message>& message);
    bool handleMotionSettings(const std::shared_ptr<Message>& message);
    void applyTrackingParams(int trackerType);
    void setAutotracking(bool enabled);
    void startControlSocket();
    void stopControlSocket();

    // Steps of onScene.
    bool readPositions(std::int64_t sceneTimeUs);
    bool finishDriverCheck();
    void afterTarget(TrackerScene& scene);
    bool analyzeSceneForAutotracking(TrackerScene& scene);
    void loseTarget();
    void goHomeWhenArmed();
    void publishSnapshot(const TrackerScene& scene);
    bool presetMoving() const;

    void stopMove();
    int move(double pan, double tilt, double zoom);
    void follow(const TrackingObject& object);
    void resetLaw();
    void onWatch(std::int64_t nowUs);
    // Debug mode: one status line per second.
    void logStatus(std::int64_t nowUs);
    void armWatch();
    PictureFormat viewFormat() const;

    int channel_ = 1;
    bool debug_;
    int viewRotation_ = -1;
    int state_ = kIdle;
    std::int64_t trackingStartedAt_ = 0;
    Speeds lastSpeeds_;
    Extremes speedExtremes_;
    Extremes positionExtremes_;
    ControlTiming timing_;
    std::int64_t previousSceneUs_ = 0;
    std::int64_t lastFollowedUs_ = 0;     // scene time
    std::int64_t lastFollowedMonoUs_ = 0; // monotonic, for a silent feed
    std::int64_t lastSceneMonoUs_ = 0;    // monotonic arrival of the last scene
    bool feedSilent_ = false;
    std::int64_t lastStatusLogUs_ = 0;
    double timeoutToHome_ = 5.0;
    int returnToPreset_ = -1;
    std::uint8_t presetFlags_ = 0;
    int presetState_ = 0;
    int returnPreset_ = 0;
    std::shared_ptr<GenericTracker> strategy_;
    bool strategyApplied_ = false;
    ControlLaw law_;
    PtzClient ptz_;
    DriverCheck driverCheck_;
    PositionRecord positionAtFrame_;
    PositionRecord positionNow_;
    CameraGeometry geometry_;                     // follows the current position and the viewport
    std::shared_ptr<TrackerPositions> positions_; // the second context
    std::shared_ptr<TrackingProfile> defaultProfile_;
    TargetPredictor predictor_;
    bool autotrackingEnabled_ = false;
    AutotrackingEnabledEventHandler autoTriggersEvent_;
    AutotrackingStateEventHandler trackingStateEvent_;
    bool controlSocketStarted_ = false;
    int lastMoveError_ = 0;
    bool initialised_ = false;
    bool ptzMoving_ = false;
    int movingHold_ = 0;
    std::map<int, int> typeStats_;
    std::atomic<bool> shutDown_{false};
    // Held by each bus-thread entry and by prepareToShutdown, which the
    // service may call from the main thread at exit.
    std::recursive_mutex stepLock_;
    std::atomic<bool> watching_{true};
    TimerClass watch_;
    std::uint64_t identity_; // tells this Tracker's ticks from another's
};

} // namespace quillon
