#include "closed_loop.h"

#include <glib.h>

#include <algorithm>
#include <cmath>

#include "detfeed.h"
#include "quillon/config/geometry/polygon.h"
#include "quillon/core/log.h"
#include "vod.pb-c.h"

namespace motiontest
{

using namespace quillon;

ClosedLoop::ClosedLoop(ClosedLoopOptions options) : options_(options), client_(options.channel)
{
    law_.setZoomLimits(options.zoomLimitHigh, options.zoomLimitLow);
}

ClosedLoop::~ClosedLoop()
{
    if (feed_ != nullptr)
        detfeed_delete(&feed_);
    client_.shutDown();
}

void ClosedLoop::start()
{
    client_.create();
    subscribe();
}

void ClosedLoop::subscribe()
{
    if (feed_ != nullptr)
        detfeed_delete(&feed_);
    {
        std::lock_guard<std::mutex> guard(lock_);
        feedDown_ = false;
    }
    if (detfeed_create(&feed_, this, options_.channel - 1, nullptr) != 0)
        return;
    detfeed_set_get_detection_callback(feed_, &ClosedLoop::onDetection);
    detfeed_set_teardown_callback(feed_, &ClosedLoop::onTeardown);
    detfeed_set_receive_empty_hits(feed_, 1);
    detfeed_subscribe(feed_);
    ++subscriptions_;
}

void ClosedLoop::onDetection(const std::uint8_t* data, std::size_t length, void* self)
{
    auto* loop = static_cast<ClosedLoop*>(self);
    VOD__Scene* scene = vod__scene__unpack(nullptr, length, data);
    if (scene == nullptr)
        return;
    Frame f;
    f.sceneUs = static_cast<std::int64_t>(scene->timestamp / 1000);
    if (scene->n_detections > 0) {
        const VOD__Detection* d = scene->detections[0];
        f.hasTarget = true;
        f.id = d->id;
        f.left = d->left;
        f.top = d->top;
        f.right = d->right;
        f.bottom = d->bottom;
    }
    vod__scene__free_unpacked(scene, nullptr);
    {
        std::lock_guard<std::mutex> guard(loop->lock_);
        loop->frames_.push_back(f);
    }
    loop->arrived_.notify_one();
}

void ClosedLoop::onTeardown(void* self)
{
    auto* loop = static_cast<ClosedLoop*>(self);
    {
        std::lock_guard<std::mutex> guard(loop->lock_);
        loop->feedDown_ = true;
    }
    loop->arrived_.notify_one();
}

bool ClosedLoop::run(const std::function<bool(const LoopSample&)>& done,
                     std::chrono::milliseconds timeout)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    auto nextResubscribe = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < end) {
        Frame frame;
        bool got = false, down = false;
        {
            std::unique_lock<std::mutex> guard(lock_);
            arrived_.wait_for(guard, std::chrono::milliseconds(100),
                              [&] { return !frames_.empty() || feedDown_; });
            if (!frames_.empty()) {
                frame = frames_.front();
                frames_.pop_front();
                got = true;
            }
            down = feedDown_;
        }
        if (got) {
            handle(frame);
            if (done(samples_.back()))
                return true;
        } else if (down && std::chrono::steady_clock::now() >= nextResubscribe) {
            // camsim went away: try again every 200 ms until it is back.
            subscribe();
            nextResubscribe = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        }
    }
    return false;
}

// What the tracker does with one scene: position at capture time, driver
// check until done (again after a new link), then the law and one move
// unless the speeds did not change.
void ClosedLoop::handle(const Frame& frame)
{
    LoopSample s;
    s.sceneUs = frame.sceneUs;
    s.handledUs = g_get_monotonic_time();
    timing_.interval =
        havePrevious_ ? static_cast<double>(frame.sceneUs - previousSceneUs_) / 1e6 : 0.0;
    timing_.sceneTimeUs = frame.sceneUs;
    previousSceneUs_ = frame.sceneUs;
    havePrevious_ = true;

    s.hasTarget = frame.hasTarget;
    float vx = 0.0f, vy = 0.0f;
    Polygon box;
    if (frame.hasTarget) {
        box = Polygon::box(frame.left, frame.right, frame.top, frame.bottom);
        s.x = (frame.left + frame.right) / 2.0f;
        s.y = (frame.top + frame.bottom) / 2.0f;
        s.size =
            std::max(std::fabs(frame.right - frame.left), std::fabs(frame.top - frame.bottom)) /
            2.0f;
        if (previousId_ == frame.id && timing_.interval > 0.0) {
            vx = static_cast<float>((s.x - previousX_) / timing_.interval);
            vy = static_cast<float>((s.y - previousY_) / timing_.interval);
        }
        previousId_ = frame.id;
        previousX_ = s.x;
        previousY_ = s.y;
    }

    s.readResult = client_.readPosition(frame.sceneUs, s.position);
    if (s.readResult != 0) {
        quillonLog(LOG_INFO, "PTZ result = %d\n", s.readResult);
        if (check_.done())
            check_.reset();
        initialised_ = false;
        samples_.push_back(s);
        return;
    }
    if (check_.followLink(client_))
        initialised_ = false;
    if (!initialised_) {
        if (!check_.done()) {
            check_.step(client_);
        } else {
            law_.useGainSet(check_.spaceSet() ? GainSet::Alternate : GainSet::Default);
            law_.reset();
            predictor_.reset();
            timing_.zoomHoldUs = 0;
            lastSpeeds_ = {};
            initialised_ = true;
        }
        samples_.push_back(s);
        return;
    }

    Speeds speeds;
    if (frame.hasTarget)
        speeds = law_.computeSpeeds(LawTarget{box, vx, vy}, s.position, timing_, predictor_);
    s.steered = frame.hasTarget;
    s.speeds = speeds;
    if (!(speeds == lastSpeeds_)) {
        s.moved = true;
        s.moveResult = client_.continuousMove(speeds.pan, speeds.tilt, speeds.zoom);
        lastSpeeds_ = s.moveResult == 0 ? speeds : Speeds{};
    }
    samples_.push_back(s);
}

} // namespace motiontest
