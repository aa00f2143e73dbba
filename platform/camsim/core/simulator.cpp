#include "simulator.h"

#include <fmt/format.h>
#include <glib-unix.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "gerror.h"

namespace camsim
{

using nlohmann::json;

namespace
{

json stateJson(const CameraState& s)
{
    return json{{"time_us", s.timeUs},     {"pan", s.pan},
                {"tilt", s.tilt},          {"zoom", s.zoom},
                {"hfov", s.hfov},          {"vfov", s.vfov},
                {"pan_speed", s.panSpeed}, {"tilt_speed", s.tiltSpeed},
                {"zoom_rate", s.zoomRate}, {"status", s.status}};
}

SpeedSpace spaceFrom(const std::string& name)
{
    if (name == "proportional" || name == "default")
        return SpeedSpace::Proportional;
    if (name == "alternate")
        return SpeedSpace::Alternate;
    if (name == "degrees")
        return SpeedSpace::Degrees;
    throw ControlError("space must be proportional, alternate or degrees");
}

// JSON object -> a{sv}: strings "s", booleans "b", integers "i" (or "x" when
// out of range), other numbers "d", anything else as its JSON text.
GVariant* dictFrom(const json& data)
{
    if (!data.is_object())
        throw ControlError("\"data\" must be an object");
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    for (auto& [key, v] : data.items()) {
        GVariant* value = nullptr;
        if (v.is_string())
            value = g_variant_new_string(v.get<std::string>().c_str());
        else if (v.is_boolean())
            value = g_variant_new_boolean(v.get<bool>());
        else if (v.is_number_integer()) {
            long long n = v.get<long long>();
            value = (n >= INT32_MIN && n <= INT32_MAX) ? g_variant_new_int32(static_cast<gint32>(n))
                                                       : g_variant_new_int64(n);
        } else if (v.is_number())
            value = g_variant_new_double(v.get<double>());
        else
            value = g_variant_new_string(v.dump().c_str());
        g_variant_builder_add(&b, "{sv}", key.c_str(), value);
    }
    return g_variant_builder_end(&b);
}

} // namespace

const CameraState& Context::pose() const
{
    return simulator->advance();
}

void Context::ownName(const std::string& name) const
{
    GError* err = nullptr;
    GVariant* r = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", name.c_str(), 4u /* DO_NOT_QUEUE */), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &err);
    if (r == nullptr)
        throwGError(fmt::format("cannot own {}", name), err);
    guint32 result = 0;
    g_variant_get(r, "(u)", &result);
    g_variant_unref(r);
    if (result != 1 && result != 4) // primary owner / already owner
        throw std::runtime_error(fmt::format("cannot own {}: name is taken", name));
}

GSource* Context::addTimer(unsigned intervalMs, std::function<bool()> fn) const
{
    GSource* s = g_timeout_source_new(intervalMs);
    auto* heap = new std::function<bool()>(std::move(fn));
    g_source_set_callback(
        s,
        [](gpointer d) -> gboolean {
            return (*static_cast<std::function<bool()>*>(d))() ? G_SOURCE_CONTINUE
                                                               : G_SOURCE_REMOVE;
        },
        heap, [](gpointer d) { delete static_cast<std::function<bool()>*>(d); });
    g_source_attach(s, mainContext);
    return s;
}

Simulator::Simulator() : camera_(CameraLimits{}, monotonicUs())
{
    // Every command is a corner of the pose curve: keep it in the data cache.
    camera_.addListener([this](Camera::Change change) {
        if (change != Camera::Change::PresetStatus)
            history_.record(camera_.state(), true);
    });
    history_.record(camera_.state(), true);
    addCoreCommands();
}

Simulator::~Simulator()
{
    trace_.stop();
    control_.close();
    if (bus_ != nullptr)
        g_object_unref(bus_);
    if (loop_ != nullptr)
        g_main_loop_unref(loop_);
}

const CameraState& Simulator::advance()
{
    // Sample at least every 10 ms of camera time, however late the tick runs.
    constexpr long long kSampleUs = 10'000;
    long long now = monotonicUs();
    while (camera_.state().timeUs < now) {
        camera_.advanceTo(std::min(now, camera_.state().timeUs + kSampleUs));
        history_.record(camera_.state());
    }
    return camera_.state();
}

void Simulator::tick()
{
    advance();
    trace_.writeRow(camera_.state(), camera_.commanded());
}

void Simulator::quit()
{
    if (loop_ != nullptr)
        g_main_loop_quit(loop_);
}

int Simulator::run(int argc, char** argv)
{
    Options options;
    options.addInt("channels", "PTZ channels to publish (default 1)", &channels_);
    options.addInt("tick-ms", "simulation and data-cache period in ms (default 10)", &tickMs_);
    options.addString("control-socket",
                      "control socket (default /run/camsim/control, under "
                      "CAMROOT)",
                      &controlSocket_);
    options.addString("trace", "start a CSV trace into this file", &tracePath_);
    options.addDouble("pan", "initial pan in degrees", &startPan_);
    options.addDouble("tilt", "initial tilt in degrees", &startTilt_);
    options.addDouble("zoom", "initial zoom factor", &startZoom_);
    options.addDouble("preset-speed", "goto-preset speed, fraction of the maximum (default 0.5)",
                      &presetSpeed_);
    options.addDouble("fov-per-second-at-100",
                      "proportional pan/tilt speed 100 in fields of view per second (default 3)",
                      &fovPerSecondAt100_);

    for (auto& reg : registeredModules()) {
        modules_.emplace_back(reg.name, reg.factory());
        modules_.back().second->addOptions(options);
    }
    std::string error;
    if (!options.parse(argc, argv, error)) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        return 2;
    }
    if (channels_ < 1 || tickMs_ < 1 || tickMs_ > 10 || !(presetSpeed_ > 0.0) ||
        presetSpeed_ > 1.0 || !(fovPerSecondAt100_ <= 100.0) ||
        !camera_.setFovPerSecondAt100(fovPerSecondAt100_)) {
        std::fprintf(stderr, "camsim: --channels >= 1, --tick-ms 1..10, --preset-speed in "
                             "(0, 1] and --fov-per-second-at-100 in (0, 100] please\n");
        return 2;
    }
    presets_.setGotoSpeed(presetSpeed_);
    camera_.setPose(startPan_, startTilt_, startZoom_, monotonicUs());

    GMainContext* mainContext = g_main_context_default();
    loop_ = g_main_loop_new(mainContext, FALSE);
    GError* err = nullptr;
    bus_ = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &err);
    if (bus_ == nullptr) {
        std::fprintf(stderr, "camsim: no system bus: %s\n", err->message);
        g_error_free(err);
        return 1;
    }
    g_dbus_connection_set_exit_on_close(bus_, FALSE);

    std::string socketPath = camPath(controlSocket_);
    makeParentDirs(socketPath);
    if (!control_.listen(socketPath, mainContext, error)) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        return 1;
    }
    context_.reset(new Context{mainContext, loop_, bus_, camera_, history_, presets_, events_,
                               trace_, control_, channels_, this});

    int code = 0;
    std::size_t started = 0;
    try {
        for (; started < modules_.size(); ++started)
            modules_[started].second->start(*context_);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "camsim: module %s: %s\n", modules_[started].first.c_str(), e.what());
        code = 1;
    }
    // After the modules, so that the columns they add are in the trace.
    if (code == 0 && !tracePath_.empty() && !trace_.start(tracePath_, error)) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        code = 1;
    }

    if (code == 0) {
        GSource* ticker = context_->addTimer(static_cast<unsigned>(tickMs_), [this] {
            tick();
            return true;
        });
        guint sigterm = g_unix_signal_add(
            SIGTERM,
            [](gpointer d) -> gboolean {
                static_cast<Simulator*>(d)->quit();
                return G_SOURCE_CONTINUE;
            },
            this);
        guint sigint = g_unix_signal_add(
            SIGINT,
            [](gpointer d) -> gboolean {
                static_cast<Simulator*>(d)->quit();
                return G_SOURCE_CONTINUE;
            },
            this);
        std::printf("camsim ready: control socket %s\n", socketPath.c_str());
        std::fflush(stdout);
        g_main_loop_run(loop_);
        g_source_remove(sigterm);
        g_source_remove(sigint);
        g_source_destroy(ticker);
        g_source_unref(ticker);
    }

    while (started > 0)
        modules_[--started].second->stop();
    modules_.clear();
    trace_.stop();
    control_.close();
    g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    return code;
}

void Simulator::addCoreCommands()
{
    auto& c = control_;
    c.add("pose", "current pose and status", [this](const json&) { return stateJson(advance()); });
    c.add("history", "data-cache pose at \"ago\" seconds before now (or \"time_us\")",
          [this](const json& r) {
              const CameraState& now = advance();
              long long t = r.contains("time_us")
                                ? static_cast<long long>(ControlSurface::number(r, "time_us"))
                                : now.timeUs - static_cast<long long>(
                                                   ControlSurface::number(r, "ago", 0.0) * 1e6);
              auto s = history_.at(t, now);
              if (!s)
                  throw ControlError("time outside the data cache window");
              return stateJson(*s);
          });
    c.add("move", "continuous move: pan, tilt, zoom speeds, space (proportional|alternate|degrees)",
          [this](const json& r) {
              SpeedSpace space = spaceFrom(ControlSurface::text(r, "space", "proportional"));
              if (!camera_.continuousMove(
                      ControlSurface::number(r, "pan", 0.0), ControlSurface::number(r, "tilt", 0.0),
                      ControlSurface::number(r, "zoom", 0.0), space, monotonicUs()))
                  throw ControlError("bad speeds");
              return json(nullptr);
          });
    c.add("goto", "absolute move: pan, tilt (degrees), zoom (factor), speed (0..1]",
          [this](const json& r) {
              const CameraState& s = advance();
              if (!camera_.absoluteMove(ControlSurface::number(r, "pan", s.pan),
                                        ControlSurface::number(r, "tilt", s.tilt),
                                        ControlSurface::number(r, "zoom", s.zoom),
                                        ControlSurface::number(r, "speed", 1.0), monotonicUs()))
                  throw ControlError("bad pose");
              return json(nullptr);
          });
    c.add("relative", "relative move: pan, tilt (degrees), zoom (factor), speed (0..1]",
          [this](const json& r) {
              if (!camera_.relativeMove(ControlSurface::number(r, "pan", 0.0),
                                        ControlSurface::number(r, "tilt", 0.0),
                                        ControlSurface::number(r, "zoom", 1.0),
                                        ControlSurface::number(r, "speed", 1.0), monotonicUs()))
                  throw ControlError("bad move");
              return json(nullptr);
          });
    c.add("set-pose", "place the camera at pan, tilt, zoom at once", [this](const json& r) {
        if (!camera_.setPose(ControlSurface::number(r, "pan"), ControlSurface::number(r, "tilt"),
                             ControlSurface::number(r, "zoom", 1.0), monotonicUs()))
            throw ControlError("bad pose");
        return stateJson(camera_.state());
    });
    c.add("pan-limits",
          "pan stops: min, max (degrees, min < max inside [-180, 180]); none given: turn freely",
          [this](const json& r) {
              PanLimits limits;
              limits.min = ControlSurface::number(r, "min", -180.0);
              limits.max = ControlSurface::number(r, "max", 180.0);
              if (!camera_.setPanLimits(limits, monotonicUs()))
                  throw ControlError("min < max inside [-180, 180] please");
              return json{{"min", limits.min}, {"max", limits.max}};
          });
    c.add("stop", "stop moving", [this](const json&) {
        camera_.stop(monotonicUs());
        return json(nullptr);
    });
    c.add("presets", "list presets and the preset status", [this](const json&) {
        json list = json::array();
        for (auto& p : presets_.list())
            list.push_back({{"number", p.number},
                            {"name", p.name},
                            {"pan", p.pan},
                            {"tilt", p.tilt},
                            {"zoom", p.zoom}});
        PresetStatus st = camera_.presetStatus();
        return json{{"presets", list}, {"status", {{"state", st.state}, {"preset", st.preset}}}};
    });
    c.add("preset-add", "add or change preset: number, name, pan, tilt, zoom (default: current)",
          [this](const json& r) {
              const CameraState& s = advance();
              double number = ControlSurface::number(r, "number");
              if (number < 1 || number > 4294967295.0 || number != std::floor(number))
                  throw ControlError("\"number\" must be a whole number from 1");
              Preset p{static_cast<std::uint32_t>(number),
                       ControlSurface::text(r, "name", fmt::format("Preset {}", number)),
                       ControlSurface::number(r, "pan", s.pan),
                       ControlSurface::number(r, "tilt", s.tilt),
                       ControlSurface::number(r, "zoom", s.zoom)};
              p.tilt = std::clamp(p.tilt, camera_.limits().tiltMin, camera_.limits().tiltMax);
              p.zoom = std::clamp(p.zoom, camera_.limits().zoomMin, camera_.limits().zoomMax);
              presets_.set(p);
              return json(nullptr);
          });
    c.add("preset-remove", "remove preset: number", [this](const json& r) {
        double number = ControlSurface::number(r, "number");
        if (number < 1 || number > 4294967295.0 ||
            !presets_.remove(static_cast<std::uint32_t>(number)))
            throw ControlError("no such preset");
        return json(nullptr);
    });
    c.add("preset-goto", "go to preset: number", [this](const json& r) {
        double number = ControlSurface::number(r, "number");
        const Preset* p = number >= 1 && number <= 4294967295.0
                              ? presets_.find(static_cast<std::uint32_t>(number))
                              : nullptr;
        if (p == nullptr)
            throw ControlError("no such preset");
        camera_.gotoPreset(p->number, p->pan, p->tilt, p->zoom, presets_.gotoSpeed(),
                           monotonicUs());
        return json(nullptr);
    });
    c.add("events-declared", "events declared through the producer",
          [this](const json&) { return events_.declaredJson(); });
    c.add("events-sent", "the latest events sent (producer and send-event)",
          [this](const json&) { return events_.sentJson(); });
    c.add("event-subscriptions", "subscriptions made through the consumer",
          [this](const json&) { return events_.subscriptionsJson(); });
    c.add("send-event",
          "send an event: topic \"ns:Name/ns:Name/...\", data {key: value}; returns deliveries",
          [this](const json& r) {
              std::string topic = ControlSurface::text(r, "topic");
              GVariant* data = dictFrom(r.contains("data") ? r["data"] : json::object());
              gint64 ts = r.contains("timestamp")
                              ? static_cast<gint64>(ControlSurface::number(r, "timestamp"))
                              : g_get_real_time();
              return json{{"deliveries", events_.sendTopic(topic, data, ts)}};
          });
    c.add("trace-start", "start a CSV trace: path (default trace.csv in the current directory)",
          [this](const json& r) {
              std::string error;
              if (!trace_.start(ControlSurface::text(r, "path", "trace.csv"), error))
                  throw ControlError(error);
              return json{{"path", trace_.path()}};
          });
    c.add("trace-stop", "stop the trace", [this](const json&) {
        json out{{"path", trace_.path()}, {"rows", trace_.rows()}, {"active", trace_.active()}};
        trace_.stop();
        return out;
    });
    c.add("modules", "modules running in this camsim", [this](const json&) {
        json out = json::array();
        for (auto& [name, m] : modules_)
            out.push_back(name);
        return out;
    });
    c.add("quit", "stop camsim", [this](const json&) {
        quit();
        return json(nullptr);
    });
}

} // namespace camsim
