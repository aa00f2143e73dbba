#include "quillon/motion/presets/preset_handler.h"

#include <gio/gio.h>

#include <algorithm>

#include "quillon/core/log.h"
#include "quillon/events/dbus/dbus_proxy.h"

namespace quillon::PTZ
{

namespace
{

constexpr const char* kPresetInterface = "com.zeto.PTZ2.Preset1";

// The handler and the (number, name) of a preset signal, or null after
// logging.
PTZ_PresetHandler* presetSignal(gpointer data, const char* signal, GVariant* parameters,
                                uint32_t& number, const char*& name)
{
    if (data == nullptr) {
        quillonLog(LOG_ERR, "on%s camera is null\n", signal);
        return nullptr;
    }
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
        quillonLog(LOG_WARNING, "Warning: %s arguments %s of unknown type\n", signal,
                   variantText(parameters).c_str());
        return nullptr;
    }
    g_variant_get(parameters, "(u&s)", &number, &name);
    return static_cast<PTZ_PresetHandler*>(data);
}

// A value, without the variant boxes around it (new reference).
GVariant* unboxed(GVariant* value)
{
    GVariant* v = g_variant_ref(value);
    while (g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(v);
        g_variant_unref(v);
        v = inner;
    }
    return v;
}

} // namespace

PTZ_PresetHandler::PTZ_PresetHandler(int channel)
    : channel_(channel), path_("/com/zeto/PTZ2/Channel/" + std::to_string(channel)),
      proxy_(std::make_unique<DBusProxy>("com.zeto.PTZ2", path_, kPresetInterface))
{
}

PTZ_PresetHandler::~PTZ_PresetHandler()
{
    // The proxy drops the subscriptions before `this` goes.
    proxy_.reset();
}

void PTZ_PresetHandler::subscribe()
{
    if (!subscriptions_.empty())
        return;
    subscriptions_ = {
        proxy_->subscribeSignal("PropertiesChanged", "org.freedesktop.DBus.Properties",
                                onPropertiesChanged, this),
        proxy_->subscribeSignal("PresetChanged", kPresetInterface, onPresetChanged, this),
        proxy_->subscribeSignal("PresetAdded", kPresetInterface, onPresetAdded, this),
        proxy_->subscribeSignal("PresetRemoved", kPresetInterface, onPresetRemoved, this),
    };
}

void PTZ_PresetHandler::unsubscribe()
{
    for (unsigned id : subscriptions_)
        proxy_->unsubscribeSignal(id);
    subscriptions_.clear();
}

bool PTZ_PresetHandler::gotoPreset(int number)
{
    bool known;
    {
        std::lock_guard<std::mutex> guard(lock_);
        known = std::any_of(presets_.begin(), presets_.end(), [&](const Preset& p) {
            return number >= 0 && p.number == static_cast<uint32_t>(number);
        });
    }
    if (!known) {
        quillonLog(LOG_WARNING,
                   "Cannot move camera number %i to preset %i becuase the preset number does not "
                   "exist\n",
                   channel_, number);
        return false;
    }
    GVariant* reply =
        proxy_->callSync("GotoPreset", g_variant_new("(u)", static_cast<uint32_t>(number)),
                         DBusProxy::kBusThreadTimeoutMs);
    if (reply == nullptr)
        return false;
    g_variant_unref(reply);
    return true;
}

std::vector<Preset> PTZ_PresetHandler::presets() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return presets_;
}

PresetStatus PTZ_PresetHandler::presetStatus() const
{
    uint64_t word = presetStatus_.load();
    return PresetStatus{static_cast<uint32_t>(word >> 32), static_cast<uint32_t>(word)};
}

void PTZ_PresetHandler::fetchPresets()
{
    GVariant* reply = proxy_->callSync("GetPresets", nullptr);
    if (reply == nullptr) {
        quillonLog(LOG_INFO, " PTZ2.Preset1.GetPresets() returned NULL\n");
        return;
    }
    if (!g_variant_is_of_type(reply, G_VARIANT_TYPE("(a(us))"))) {
        quillonLog(LOG_WARNING, "Warning: presets %s of unknown type\n",
                   variantText(reply).c_str());
        g_variant_unref(reply);
        return;
    }
    std::vector<Preset> list;
    GVariantIter* iter = nullptr;
    g_variant_get(reply, "(a(us))", &iter);
    guint32 number = 0;
    const gchar* name = nullptr;
    while (g_variant_iter_next(iter, "(u&s)", &number, &name))
        list.push_back(Preset{number, name});
    g_variant_iter_free(iter);
    g_variant_unref(reply);
    std::lock_guard<std::mutex> guard(lock_);
    presets_ = std::move(list);
}

void PTZ_PresetHandler::applyProperty(const char* name, GVariant* value)
{
    GVariant* v = unboxed(value);
    if (g_strcmp0(name, "PtzReady") == 0) {
        if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32))
            ptzReady_ = g_variant_get_uint32(v);
        else
            quillonLog(LOG_WARNING, "Warning: PtzReady %s of unknown type\n",
                       variantText(v).c_str());
    } else {
        if (g_variant_is_of_type(v, G_VARIANT_TYPE_TUPLE) && g_variant_n_children(v) >= 2) {
            GVariant* state = g_variant_get_child_value(v, 0);
            GVariant* preset = g_variant_get_child_value(v, 1);
            bool typed = g_variant_is_of_type(state, G_VARIANT_TYPE_UINT32) &&
                         g_variant_is_of_type(preset, G_VARIANT_TYPE_UINT32);
            if (typed)
                presetStatus_ = static_cast<uint64_t>(g_variant_get_uint32(state)) << 32 |
                                g_variant_get_uint32(preset);
            g_variant_unref(state);
            g_variant_unref(preset);
            if (typed) {
                g_variant_unref(v);
                return;
            }
        }
        quillonLog(LOG_WARNING, "Warning: PresetStatus %s of unknown type\n",
                   variantText(v).c_str());
    }
    g_variant_unref(v);
}

void PTZ_PresetHandler::readProperties(GVariant* value)
{
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(value);
        readProperties(inner);
        g_variant_unref(inner);
        return;
    }
    if (!g_variant_is_container(value))
        return;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_DICT_ENTRY)) {
        GVariant* key = g_variant_get_child_value(value, 0);
        GVariant* entry = g_variant_get_child_value(value, 1);
        const char* name = g_variant_is_of_type(key, G_VARIANT_TYPE_STRING)
                               ? g_variant_get_string(key, nullptr)
                               : nullptr;
        if (g_strcmp0(name, "PtzReady") == 0 || g_strcmp0(name, "PresetStatus") == 0)
            applyProperty(name, entry);
        // Other interfaces' properties are not the preset state.
        else if (name == nullptr || !g_dbus_is_interface_name(name) ||
                 g_strcmp0(name, kPresetInterface) == 0 || g_strcmp0(name, "com.zeto.PTZ2") == 0)
            readProperties(entry);
        g_variant_unref(key);
        g_variant_unref(entry);
        return;
    }
    gsize n = g_variant_n_children(value);
    for (gsize i = 0; i < n; ++i) {
        GVariant* child = g_variant_get_child_value(value, i);
        readProperties(child);
        g_variant_unref(child);
    }
}

void PTZ_PresetHandler::onPresetAdded(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                      const gchar*, GVariant* parameters, gpointer data)
{
    uint32_t number = 0;
    const char* name = nullptr;
    auto* self = presetSignal(data, "PresetAdded", parameters, number, name);
    if (self == nullptr)
        return;
    quillonLog(LOG_INFO, " Preset add nbr=%d, name=%s\n", static_cast<int>(number), name);
    std::lock_guard<std::mutex> guard(self->lock_);
    auto& list = self->presets_;
    if (std::none_of(list.begin(), list.end(), [&](const Preset& p) { return p.number == number; }))
        list.push_back(Preset{number, name});
}

void PTZ_PresetHandler::onPresetRemoved(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                        const gchar*, GVariant* parameters, gpointer data)
{
    uint32_t number = 0;
    const char* name = nullptr;
    auto* self = presetSignal(data, "PresetRemoved", parameters, number, name);
    if (self == nullptr)
        return;
    quillonLog(LOG_INFO, " Preset remove nbr=%d, name=%s\n", static_cast<int>(number), name);
    std::lock_guard<std::mutex> guard(self->lock_);
    std::erase_if(self->presets_, [&](const Preset& p) { return p.number == number; });
}

void PTZ_PresetHandler::onPresetChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                        const gchar*, GVariant* parameters, gpointer data)
{
    uint32_t number = 0;
    const char* name = nullptr;
    auto* self = presetSignal(data, "PresetChanged", parameters, number, name);
    if (self == nullptr)
        return;
    quillonLog(LOG_INFO, " Preset change nbr=%d, name=%s\n", static_cast<int>(number), name);
    std::lock_guard<std::mutex> guard(self->lock_);
    for (auto& p : self->presets_)
        if (p.number == number)
            p.name = name;
}

void PTZ_PresetHandler::onPropertiesChanged(GDBusConnection*, const gchar*, const gchar*,
                                            const gchar*, const gchar*, GVariant* parameters,
                                            gpointer data)
{
    auto* self = static_cast<PTZ_PresetHandler*>(data);
    if (self == nullptr)
        return;
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) {
        quillonLog(LOG_WARNING, "Warning: PropertiesChanged arguments %s of unknown type\n",
                   variantText(parameters).c_str());
        return;
    }
    const gchar* interface = nullptr;
    GVariant* changed = nullptr;
    g_variant_get(parameters, "(&s@a{sv}@as)", &interface, &changed, nullptr);
    if (g_strcmp0(interface, kPresetInterface) == 0)
        self->readProperties(changed);
    g_variant_unref(changed);
}

} // namespace quillon::PTZ
