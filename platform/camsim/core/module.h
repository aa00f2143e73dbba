#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>
#include <vector>

#include "camera.h"
#include "control_surface.h"
#include "event_hub.h"
#include "options.h"
#include "paths.h"
#include "position_history.h"
#include "preset_store.h"
#include "trace.h"

namespace camsim
{

class Simulator;

// What a module is given when it starts. Everything here lives on one thread:
// the main loop of `mainContext` (the process's default context). A module
// that runs threads of its own hands work back with
// g_main_context_invoke(ctx.mainContext, ...); it never touches the objects
// below from another thread.
struct Context {
    GMainContext* mainContext = nullptr;
    GMainLoop* loop = nullptr;
    GDBusConnection* bus = nullptr; // the system bus (DBUS_SYSTEM_BUS_ADDRESS)
    Camera& camera;
    PositionHistory& history; // the data cache
    PresetStore& presets;
    EventHub& events;
    Trace& trace;
    ControlSurface& control;
    int channels = 1; // PTZ channels served; the camera model is channel 1

    // Current CLOCK_MONOTONIC time in microseconds.
    long long now() const { return monotonicUs(); }
    // Advances the camera to now (recording the data cache) and returns it.
    const CameraState& pose() const;
    // Requests a well-known name on the bus; throws std::runtime_error when
    // it cannot be owned. Call after exporting the objects behind it.
    void ownName(const std::string& name) const;
    // Runs `fn` every `intervalMs` on the main context until the returned
    // source is destroyed (g_source_destroy + g_source_unref) or fn returns
    // false.
    GSource* addTimer(unsigned intervalMs, std::function<bool()> fn) const;

    Simulator* simulator = nullptr;
};

// An extension of the simulator. Lifecycle, all on the main loop:
//   construct (registration) -> addOptions() -> [options parsed] -> start()
//   -> ... main loop runs ... -> stop() -> destroy.
// Modules start in (order, name) order and stop in reverse.
class Module
{
public:
    virtual ~Module() = default;
    virtual void addOptions(Options&) {}
    // Throw std::exception to abort camsim's start-up with its message.
    virtual void start(Context& ctx) = 0;
    virtual void stop() {}
};

using ModuleFactory = std::unique_ptr<Module> (*)();

struct ModuleRegistration {
    std::string name;
    int order;
    ModuleFactory factory;
};

// Registers a module; called from a static initialiser by CAMSIM_MODULE.
bool registerModule(const char* name, int order, ModuleFactory factory);
// Every registered module, sorted by (order, name).
std::vector<ModuleRegistration> registeredModules();

// Built-in services use orders below 50; extensions use 50 unless they need
// to come before or after another module.
constexpr int kModuleOrderDefault = 50;

} // namespace camsim

// Self-registration: put one line in the module's .cpp, e.g.
//   CAMSIM_MODULE(FeedsModule, "feeds", camsim::kModuleOrderDefault)
// and build the file with camsim_add_module() so the linker keeps it.
#define CAMSIM_MODULE(Type, name, order)                                                           \
    namespace                                                                                      \
    {                                                                                              \
    [[maybe_unused]] const bool camsimModuleRegistered_##Type =                                    \
        ::camsim::registerModule(name, order, []() -> std::unique_ptr<::camsim::Module> {          \
            return std::make_unique<Type>();                                                       \
        });                                                                                        \
    }
