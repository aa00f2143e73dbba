#pragma once

#include <gio/gio.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quillon
{
class DBusProxy;
}

namespace quillon::PTZ
{

struct Preset {
    uint32_t number = 0;
    std::string name;
};

struct PresetStatus {
    uint32_t state = 0; // 2 while the camera moves to a preset
    uint32_t preset = 0;
};

// The presets and preset state of one video channel of the camera's PTZ
// service (object "/com/zeto/PTZ2/Channel/<n>", interface
// "com.zeto.PTZ2.Preset1"), kept current from the service's signals.
//
// Threads: made by discovery on the PTZ thread; its proxy and signal
// subscriptions live on the PTZ context, so the signal handlers run there.
// gotoPreset(), presets(), presetStatus(), isState2() and ptzReady() are
// called from the tracker and API threads: the list is guarded by a mutex,
// the PTZ-ready value and the preset status (state and number as one word)
// are atomics. Shared: a holder keeps it after the component stopped, when
// it no longer follows the service.
class PTZ_PresetHandler
{
public:
    explicit PTZ_PresetHandler(int channel);
    ~PTZ_PresetHandler();
    PTZ_PresetHandler(const PTZ_PresetHandler&) = delete;
    PTZ_PresetHandler& operator=(const PTZ_PresetHandler&) = delete;

    int channel() const { return channel_; }
    const std::string& objectPath() const { return path_; }

    // Sends the camera to a preset of the list without waiting for it to
    // get there; refuses (false, warning) a number that is not in the list.
    bool gotoPreset(int number);
    std::vector<Preset> presets() const;
    PresetStatus presetStatus() const;
    bool isState2() const { return presetStatus().state == 2; }
    uint32_t ptzReady() const { return ptzReady_.load(); }

    // PTZ thread: the "PtzReady" and "PresetStatus" values found anywhere in
    // a discovered object (or a PropertiesChanged dictionary).
    void readProperties(GVariant* value);
    // PTZ thread: replaces the list by the service's ("GetPresets").
    void fetchPresets();
    // PTZ thread: follows the preset and property signals; unsubscribe()
    // stops that (the component's stop()).
    void subscribe();
    void unsubscribe();

    // The signal handlers (user data: the handler; null is logged).
    static void onPresetAdded(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                              const gchar*, GVariant* parameters, gpointer handler);
    static void onPresetRemoved(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                const gchar*, GVariant* parameters, gpointer handler);
    static void onPresetChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                const gchar*, GVariant* parameters, gpointer handler);
    static void onPropertiesChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                    const gchar*, GVariant* parameters, gpointer handler);

private:
    void applyProperty(const char* name, GVariant* value);

    int channel_;
    std::string path_;
    std::unique_ptr<DBusProxy> proxy_;
    std::vector<unsigned> subscriptions_; // PTZ thread
    std::atomic<uint32_t> ptzReady_{0};
    std::atomic<uint64_t> presetStatus_{0}; // state << 32 | preset
    mutable std::mutex lock_;               // guards presets_
    std::vector<Preset> presets_;
};

} // namespace quillon::PTZ
