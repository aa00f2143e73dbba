// camsim module "feeds": the detection feed, the scene feed and the analytics
// topic of the message broker, rendered from a scripted scenario through the
// camera's pose at each frame's capture time.
#include <fmt/format.h>
#include <glib-unix.h>
#include <glib.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "camsim/core/module.h"
#include "camsim/core/simulator.h"
#include "feed_server.h"
#include "feedwire.h"
#include "frame_engine.h"
#include "scenario.h"
#include "status_view.h"
#include "tracking_observer.h"

namespace camsim::feeds
{

namespace
{

using nlohmann::json;

// Keeps the last delivery delays (lateness against the scheduled delivery
// time) for the status report.
class LatenessLog
{
public:
    void add(long long us)
    {
        if (samples_.size() < kKeep)
            samples_.push_back(us);
        else
            samples_[next_] = us;
        next_ = (next_ + 1) % kKeep;
    }
    long long percentile(double p) const
    {
        if (samples_.empty())
            return 0;
        std::vector<long long> s = samples_;
        std::size_t k =
            std::min(s.size() - 1, static_cast<std::size_t>(p * static_cast<double>(s.size())));
        std::nth_element(s.begin(), s.begin() + static_cast<long>(k), s.end());
        return s[k];
    }
    std::size_t count() const { return samples_.size(); }
    void clear()
    {
        samples_.clear();
        next_ = 0;
    }

private:
    static constexpr std::size_t kKeep = 2000;
    std::vector<long long> samples_;
    std::size_t next_ = 0;
};

class FeedsModule : public Module
{
public:
    void addOptions(Options& options) override
    {
        options.addString("feeds-scenario",
                          "scenario of the detection feeds (JSON file; default: an empty scene)",
                          &scenarioPath_);
    }

    void start(Context& ctx) override
    {
        ctx_ = &ctx;
        server_ = std::make_unique<FeedServer>(ctx.mainContext, ctx.channels);
        std::string error;
        FeedServer::Paths paths{camPath(FEEDWIRE_DETFEED_SOCKET),
                                camPath(FEEDWIRE_SCENEFEED_SOCKET), camPath(FEEDWIRE_MBX_SOCKET)};
        if (!server_->listen(paths, error))
            throw std::runtime_error(error);
        // An unreadable scenario aborts start-up with its message.
        Scenario empty;
        empty.name = "empty";
        load(scenarioPath_.empty() ? std::move(empty) : loadScenario(scenarioPath_));
        addCommands(ctx.control);
        observer_ = std::make_unique<TrackingObserver>(ctx.events);
        addSceneColumns();
        startView(ctx);
    }

    void stop() override
    {
        disarm();
        for (int* columns : {&traceColumns_, &sceneColumns_}) {
            if (*columns != 0)
                ctx_->trace.removeColumns(*columns);
            *columns = 0;
        }
        view_.reset();
        observer_.reset();
        server_.reset();
    }

private:
    // SCENARIO

    void load(Scenario scenario)
    {
        disarm();
        Context& ctx = *ctx_;
        const CameraSpec& cam = scenario.camera;
        ctx.camera.setPanLimits({cam.panMin, cam.panMax}, ctx.now());
        ctx.camera.setPose(cam.pan, cam.tilt, cam.zoom, ctx.now());
        for (const PresetSpec& p : scenario.presets)
            ctx.presets.set({p.number, p.name, p.pan, p.tilt, p.zoom});
        server_->setDetectorInformation(
            scenario.detector.classes ? encodeDetectorInformation(0, *scenario.detector.classes)
                                      : Bytes{});
        engine_ = std::make_unique<FrameEngine>(std::move(scenario));
        startNs_ = static_cast<std::int64_t>(ctx.now()) * 1000;
        next_ = 0;
        lateness_.clear();
        skipped_ = 0;
        updateTraceColumns();
        arm();
    }

    double sceneTime(std::int64_t monoNs) const
    {
        double t = static_cast<double>(monoNs - startNs_) / 1e9;
        const Scenario& s = engine_->scenario();
        if (s.loop && s.duration)
            t = std::fmod(std::max(t, 0.0), *s.duration);
        return t;
    }

    static ViewPose viewOf(const CameraState& s) { return {s.pan, s.tilt, s.hfov, s.vfov}; }

    // FRAMES

    std::int64_t periodNs() const
    {
        return static_cast<std::int64_t>(1e9 / engine_->scenario().detector.fps);
    }
    std::int64_t latencyNs() const
    {
        return static_cast<std::int64_t>(engine_->scenario().detector.latencyMs * 1e6);
    }
    std::int64_t captureOf(std::int64_t k) const { return startNs_ + k * periodNs(); }

    // Frames are paced by a timerfd on absolute CLOCK_MONOTONIC deadlines:
    // a main-loop timeout would round every wake-up up to the millisecond.
    void arm()
    {
        timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
        if (timerFd_ < 0)
            throw std::runtime_error("feeds: cannot create the frame timer");
        source_ = g_unix_fd_source_new(timerFd_, G_IO_IN);
        g_source_set_priority(source_, G_PRIORITY_HIGH);
        g_source_set_callback(source_,
                              G_SOURCE_FUNC(+[](gint, GIOCondition, gpointer self) -> gboolean {
                                  return static_cast<FeedsModule*>(self)->onFrame();
                              }),
                              this, nullptr);
        g_source_attach(source_, ctx_->mainContext);
        setDeadline(captureOf(next_) + latencyNs());
    }

    void setDeadline(std::int64_t ns)
    {
        itimerspec when{};
        when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
        when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
        timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &when, nullptr);
    }

    void disarm()
    {
        if (source_ == nullptr)
            return;
        g_source_destroy(source_);
        g_source_unref(source_);
        source_ = nullptr;
        ::close(timerFd_);
        timerFd_ = -1;
    }

    gboolean onFrame()
    {
        Context& ctx = *ctx_;
        std::uint64_t expirations = 0;
        if (::read(timerFd_, &expirations, sizeof expirations) < 0 && errno == EAGAIN)
            return G_SOURCE_CONTINUE;
        std::int64_t nowNs = feedwire_monotonic_ns();
        // After a stall, skip the frames that are already a period late.
        while (captureOf(next_ + 1) + latencyNs() <= nowNs) {
            next_++;
            skipped_++;
        }
        std::int64_t capture = captureOf(next_);
        const CameraState& current = ctx.pose();
        std::optional<CameraState> then = ctx.history.at(capture / 1000, current);
        double t = sceneTime(capture);
        if (engine_->scenario().loop && t < lastT_)
            engine_->reset();
        lastT_ = t;
        Frame frame = engine_->render(t, viewOf(then ? *then : current));
        frame.captureNs = capture;
        frame.realtimeNs = capture + (feedwire_realtime_ns() - feedwire_monotonic_ns());
        server_->publish(frame);
        lateness_.add((feedwire_monotonic_ns() - (capture + latencyNs())) / 1000);
        next_++;
        setDeadline(captureOf(next_) + latencyNs());
        return G_SOURCE_CONTINUE;
    }

    // TRACE

    void updateTraceColumns()
    {
        if (traceColumns_ != 0)
            ctx_->trace.removeColumns(traceColumns_);
        traceColumns_ = 0;
        std::vector<std::string> names;
        for (const ObjectSpec& o : engine_->scenario().objects) {
            names.push_back(o.name + "_pan");
            names.push_back(o.name + "_tilt");
            names.push_back(o.name + "_in_picture");
            names.push_back(o.name + "_u");
            names.push_back(o.name + "_v");
            names.push_back(o.name + "_detected");
            names.push_back(o.name + "_id");
        }
        if (names.empty())
            return;
        traceColumns_ = ctx_->trace.addColumns(names, [this](std::vector<std::string>& values) {
            long long now = ctx_->now();
            std::vector<bool> present;
            auto views =
                engine_->look(sceneTime(now * 1000), viewOf(ctx_->camera.state()), &present);
            for (std::size_t i = 0; i < views.size(); i++) {
                values.push_back(fmt::format("{:.4f}", views[i].pan));
                values.push_back(fmt::format("{:.4f}", views[i].tilt));
                values.push_back(present[i] && views[i].inPicture ? "1" : "0");
                // Blank where the object is not in the scene or behind the camera.
                bool placed = present[i] && views[i].projected;
                values.push_back(placed ? fmt::format("{:.4f}", views[i].u) : "");
                values.push_back(placed ? fmt::format("{:.4f}", views[i].v) : "");
                values.push_back(engine_->detected(i) ? "1" : "0");
                values.push_back(std::to_string(engine_->trackId(i)));
            }
        });
    }

    // Scenario time and what the tracking daemon reports, for every scenario.
    void addSceneColumns()
    {
        sceneColumns_ = ctx_->trace.addColumns(
            {"scene_t", "tracking", "tracked_id"}, [this](std::vector<std::string>& values) {
                values.push_back(fmt::format(
                    "{:.3f}", sceneTime(static_cast<std::int64_t>(ctx_->now()) * 1000)));
                values.push_back(observer_->tracking() ? "1" : "0");
                values.push_back(std::to_string(observer_->trackedId()));
            });
    }

    // CONTROL

    // Names of the feeds and fault modes on the control surface.
    static constexpr std::pair<const char*, FeedServer::FeedBit> kFeedNames[] = {
        {"detection", FeedServer::kDetectionFeed},
        {"scene", FeedServer::kSceneFeed},
        {"analytics", FeedServer::kAnalyticsFeed}};
    static constexpr std::pair<const char*, FeedServer::FaultMode> kFaultNames[] = {
        {"none", FeedServer::FaultMode::None},
        {"stall", FeedServer::FaultMode::Stall},
        {"drop", FeedServer::FaultMode::Drop}};

    // Mode of each feed, plus "<feed>_delay_ms" for a delayed one.
    json faultsJson() const
    {
        json out = json::object();
        for (const auto& [feed, bit] : kFeedNames) {
            for (const auto& [mode, value] : kFaultNames)
                if (server_->fault(bit) == value)
                    out[feed] = mode;
            if (server_->delay(bit) > 0)
                out[std::string(feed) + "_delay_ms"] = server_->delay(bit);
        }
        return out;
    }

    void addCommands(ControlSurface& c)
    {
        c.add("feeds-status", "detection feeds: scenario, subscribers, frames, delivery delay (µs)",
              [this](const json&) {
                  FeedServer::Stats s = server_->stats();
                  const Scenario& sc = engine_->scenario();
                  return json{
                      {"scenario", sc.name},
                      {"objects", sc.objects.size()},
                      {"fps", sc.detector.fps},
                      {"latency_ms", sc.detector.latencyMs},
                      {"scene_time", sceneTime(static_cast<std::int64_t>(ctx_->now()) * 1000)},
                      {"det_clients", s.detClients},
                      {"scene_clients", s.sceneClients},
                      {"mbx_clients", s.mbxClients},
                      {"mbx_subscriptions", s.mbxSubscriptions},
                      {"frames", s.frames},
                      {"skipped", skipped_},
                      {"dropped_clients", s.dropped},
                      {"delay_samples", lateness_.count()},
                      {"delay_p50_us", lateness_.percentile(0.5)},
                      {"delay_p95_us", lateness_.percentile(0.95)},
                      {"delay_max_us", lateness_.percentile(1.0)},
                      {"faults", faultsJson()}};
              });
        c.add("feeds-fault",
              "fault of the feeds: mode (stall|drop|delay|none), feed (detection|scene|analytics; "
              "default all), ms (extra latency of mode delay)",
              [this](const json& r) {
                  std::string mode = ControlSurface::text(r, "mode");
                  std::string feed = ControlSurface::text(r, "feed", "all");
                  auto m = std::find_if(std::begin(kFaultNames), std::end(kFaultNames),
                                        [&](const auto& e) { return mode == e.first; });
                  if (m == std::end(kFaultNames) && mode != "delay")
                      throw ControlError("mode must be stall, drop, delay or none");
                  unsigned bits = 0;
                  for (const auto& [name, bit] : kFeedNames)
                      if (feed == "all" || feed == name)
                          bits |= bit;
                  if (bits == 0)
                      throw ControlError("feed must be detection, scene or analytics");
                  if (mode == "delay") {
                      double ms = ControlSurface::number(r, "ms");
                      if (!(ms >= 0 && ms <= 60000))
                          throw ControlError("ms must be in [0, 60000]");
                      server_->setDelay(bits, static_cast<int>(ms));
                      return faultsJson();
                  }
                  if (m->second == FeedServer::FaultMode::None)
                      server_->setDelay(bits, 0);
                  server_->setFault(bits, m->second);
                  return faultsJson();
              });
        c.add("scenario-load", "load a scenario file and start it: path", [this](const json& r) {
            std::string path = ControlSurface::text(r, "path");
            try {
                load(loadScenario(path));
            } catch (const ScenarioError& e) {
                throw ControlError(e.what());
            }
            return json{{"scenario", engine_->scenario().name}};
        });
        c.add("scenario-restart", "start the current scenario again from time 0",
              [this](const json&) {
                  Scenario copy = engine_->scenario();
                  load(std::move(copy));
                  return json{{"scenario", engine_->scenario().name}};
              });
        c.add("detfeed-fault",
              "detection-feed fault: mode=none|silent|undecodable|garbage|drop (withhold "
              "frames, frames that do not decode, bytes that are no frame, close connections)",
              [this](const json& r) {
                  using Mode = FeedServer::FaultMode;
                  using Payload = FeedServer::DetFault;
                  static const std::tuple<const char*, Mode, Payload> kModes[] = {
                      {"none", Mode::None, Payload::None},
                      {"silent", Mode::Stall, Payload::None},
                      {"undecodable", Mode::None, Payload::Undecodable},
                      {"garbage", Mode::None, Payload::Garbage},
                      {"drop", Mode::Drop, Payload::None}};
                  std::string mode = ControlSurface::text(r, "mode");
                  for (const auto& [name, feedMode, payload] : kModes) {
                      if (mode == name) {
                          server_->setDetFault(payload);
                          server_->setFault(FeedServer::kDetectionFeed, feedMode);
                          return json{{"mode", mode}};
                      }
                  }
                  throw ControlError("mode must be none, silent, undecodable, garbage or drop");
              });
        c.add("detfeed-inject",
              "send the file's bytes as one detection frame (a raw VOD.Scene): path=FILE",
              [this](const json& r) {
                  std::string path = ControlSurface::text(r, "path");
                  gchar* contents = nullptr;
                  gsize length = 0;
                  if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr))
                      throw ControlError("cannot read " + path);
                  Bytes payload(contents, contents + length);
                  g_free(contents);
                  if (payload.size() > FEEDWIRE_MAX_PAYLOAD)
                      throw ControlError("frame too large");
                  return json{{"sent", server_->injectDetFrame(payload)}};
              });
        c.add("mbx-publish", "publish a raw analytics payload now on every channel: payload=TEXT",
              [this](const json& r) {
                  std::string payload = ControlSurface::text(r, "payload");
                  if (payload.size() > FEEDWIRE_MAX_PAYLOAD - 16)
                      throw ControlError("payload too large");
                  unsigned sent = 0;
                  for (int ch = 1; ch <= ctx_->channels; ch++)
                      sent += server_->publishMessage(kAnalyticsTopic, std::to_string(ch),
                                                      feedwire_monotonic_ns(), payload);
                  return json{{"sent", sent}};
              });
        c.add("objects", "scenario objects now: direction and whether they are in the picture",
              [this](const json&) {
                  std::vector<bool> present;
                  double t = sceneTime(static_cast<std::int64_t>(ctx_->now()) * 1000);
                  auto views = engine_->look(t, viewOf(ctx_->pose()), &present);
                  json out = json::array();
                  for (std::size_t i = 0; i < views.size(); i++) {
                      const auto& v = views[i];
                      out.push_back({{"name", engine_->scenario().objects[i].name},
                                     {"present", static_cast<bool>(present[i])},
                                     {"pan", v.pan},
                                     {"tilt", v.tilt},
                                     {"distance", v.distance},
                                     {"in_picture", present[i] && v.inPicture},
                                     {"box", {v.box.left, v.box.top, v.box.right, v.box.bottom}}});
                  }
                  return json{{"scene_time", t}, {"objects", out}};
              });
    }

    // VIEW: the tracker's latest status beside the scene (control "view" and
    // "view.cgi" on the transfer socket /run/camsim/transfer).

    void startView(Context& ctx)
    {
        view_ =
            std::make_unique<StatusView>(ctx, [this](long long timeUs, const CameraState& pose) {
                return sceneAt(timeUs, pose);
            });
        std::string error;
        // Not fatal: without the socket's group (no root) the command still works.
        if (!view_->serve(camPath("/run/camsim/transfer"), error))
            std::fprintf(stderr, "camsim: %s\n", error.c_str());
        ctx.control.add("view",
                        "the latest streamObjects event with the pose and the scenario objects "
                        "at its frame time (boxes as fractions of the displayed picture)",
                        [this](const json&) { return view_->view(); });
    }

    json sceneAt(long long timeUs, const CameraState& pose)
    {
        std::vector<bool> present;
        auto views = engine_->look(sceneTime(timeUs * 1000), viewOf(pose), &present);
        const Scenario& s = engine_->scenario();
        json objects = json::array();
        for (std::size_t i = 0; i < views.size(); i++) {
            bool in = present[i] && views[i].inPicture;
            json box = nullptr;
            if (in) {
                PictureBox p = pictureBox(views[i].box, s.camera.rotation);
                box = {{"x", p.left},
                       {"y", p.top},
                       {"width", p.right - p.left},
                       {"height", p.bottom - p.top}};
            }
            objects.push_back({{"name", s.objects[i].name},
                               {"class", s.objects[i].cls},
                               {"in_picture", in},
                               {"box", box}});
        }
        return {{"rotation", s.camera.rotation}, {"objects", std::move(objects)}};
    }

    Context* ctx_ = nullptr;
    std::string scenarioPath_;
    std::unique_ptr<FeedServer> server_;
    std::unique_ptr<FrameEngine> engine_;
    GSource* source_ = nullptr;
    int timerFd_ = -1;
    std::int64_t startNs_ = 0;
    std::int64_t next_ = 0;
    double lastT_ = 0.0;
    std::uint64_t skipped_ = 0;
    LatenessLog lateness_;
    int traceColumns_ = 0;
    int sceneColumns_ = 0;
    std::unique_ptr<TrackingObserver> observer_;
    std::unique_ptr<StatusView> view_;
};

} // namespace

CAMSIM_MODULE(FeedsModule, "feeds", camsim::kModuleOrderDefault)

} // namespace camsim::feeds
