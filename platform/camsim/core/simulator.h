#pragma once

#include <memory>
#include <string>
#include <vector>

#include "module.h"

namespace camsim
{

// The camsim process: owns the camera model, the data cache, presets, event
// hub, trace and control surface, runs the modules and the main loop.
class Simulator
{
public:
    Simulator();
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Parses options, connects to the system bus, starts every module, serves
    // until SIGINT/SIGTERM or quit(); returns the process exit code.
    int run(int argc, char** argv);
    void quit();

    // Advances the camera to now and records the data cache.
    const CameraState& advance();

    Camera& camera() { return camera_; }
    PositionHistory& history() { return history_; }
    PresetStore& presets() { return presets_; }
    EventHub& events() { return events_; }
    Trace& trace() { return trace_; }
    ControlSurface& control() { return control_; }

private:
    void addCoreCommands();
    void tick();

    Camera camera_;
    PositionHistory history_;
    PresetStore presets_;
    EventHub events_;
    Trace trace_;
    ControlSurface control_;
    GMainLoop* loop_ = nullptr;
    GDBusConnection* bus_ = nullptr;
    std::unique_ptr<Context> context_;
    std::vector<std::pair<std::string, std::unique_ptr<Module>>> modules_;

    // Core options.
    int channels_ = 1;
    int tickMs_ = 10;
    std::string controlSocket_ = "/run/camsim/control";
    std::string tracePath_;
    double startPan_ = 0.0, startTilt_ = 0.0, startZoom_ = 1.0;
    double presetSpeed_ = 0.5;
    double fovPerSecondAt100_ = CameraLimits{}.fovPerSecondAt100;
};

} // namespace camsim
