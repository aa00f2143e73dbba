#pragma once

// The tracker's inner loop without the tracker, for tests and the bench: the
// real detection feed (libdetfeed, frames decoded with the generated VOD
// code), the target's box as outline and its velocity from consecutive
// boxes, the camera position at each frame's capture time, the control law
// and PtzClient with DriverCheck, against whatever camsim CAMROOT and the
// system bus lead to. Not production code: it steers on the first detection
// of every frame.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "quillon/motion/law/control_law.h"
#include "quillon/motion/link/driver_check.h"
#include "quillon/motion/link/ptz_client.h"

struct detfeed_subscriber;

namespace motiontest
{

// One detection frame as the loop saw it.
struct LoopSample {
    std::int64_t sceneUs = 0;   // capture time, CLOCK_MONOTONIC
    std::int64_t handledUs = 0; // when the loop handled it
    bool hasTarget = false;
    float x = 0.0f, y = 0.0f; // box centre, image units
    float size = 0.0f;        // max(width, height) / 2
    int readResult = 0;       // position read for the capture time
    quillon::PositionRecord position;
    bool steered = false; // the law ran (driver check done)
    quillon::Speeds speeds;
    int moveResult = 0; // when a move was sent
    bool moved = false;
};

struct ClosedLoopOptions {
    int channel = 1;
    float zoomLimitHigh = 8.0f;
    float zoomLimitLow = 1.0f;
};

// Threads: the detection feed's library thread only queues decoded frames;
// everything else (client, check, law, samples) runs on the thread that
// calls run(), standing in for the tracker's bus thread.
class ClosedLoop
{
public:
    explicit ClosedLoop(ClosedLoopOptions options = {});
    ~ClosedLoop();
    ClosedLoop(const ClosedLoop&) = delete;
    ClosedLoop& operator=(const ClosedLoop&) = delete;

    // Creates the PTZ client and subscribes to the detection feed.
    void start();
    // Handles frames until `done` returns true for a sample or `timeout`
    // passes; re-subscribes when the feed goes away. True when `done` held.
    bool run(const std::function<bool(const LoopSample&)>& done, std::chrono::milliseconds timeout);
    void runFor(std::chrono::milliseconds duration)
    {
        run([](const LoopSample&) { return false; }, duration);
    }

    quillon::PtzClient& client() { return client_; }
    quillon::DriverCheck& driverCheck() { return check_; }
    quillon::ControlLaw& law() { return law_; }
    const std::vector<LoopSample>& samples() const { return samples_; }
    bool initialised() const { return initialised_; }
    int subscriptions() const { return subscriptions_; }

private:
    struct Frame {
        std::int64_t sceneUs = 0;
        bool hasTarget = false;
        unsigned id = 0;
        float left = 0, top = 0, right = 0, bottom = 0;
    };
    static void onDetection(const std::uint8_t* data, std::size_t length, void* self);
    static void onTeardown(void* self);
    void subscribe();
    void handle(const Frame& frame);

    ClosedLoopOptions options_;
    quillon::PtzClient client_;
    quillon::DriverCheck check_;
    quillon::ControlLaw law_;
    quillon::TargetPredictor predictor_;
    quillon::ControlTiming timing_;
    bool initialised_ = false;
    quillon::Speeds lastSpeeds_;
    std::int64_t previousSceneUs_ = 0;
    bool havePrevious_ = false;
    unsigned previousId_ = 0;
    float previousX_ = 0.0f, previousY_ = 0.0f;
    std::vector<LoopSample> samples_;

    detfeed_subscriber* feed_ = nullptr;
    int subscriptions_ = 0;
    std::mutex lock_; // guards frames_ and feedDown_
    std::condition_variable arrived_;
    std::deque<Frame> frames_;
    bool feedDown_ = false;
};

} // namespace motiontest
