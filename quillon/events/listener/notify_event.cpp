#include "quillon/events/listener/notify_event.h"

#include <optional>
#include <string>

#include "quillon/api/methods/api_state.h"
#include "quillon/config/zones/zone_profiles_file.h"
#include "quillon/core/channel.h"
#include "quillon/core/log.h"
#include "quillon/events/dbus/dbus_proxy.h"
#include "quillon/events/listener/event_values.h"

namespace quillon
{

namespace
{

// A value of the event; null when absent or not of `type` (a value of
// another type counts as missing). The caller unrefs.
GVariant* lookup(GVariant* values, const char* key, const GVariantType* type = nullptr)
{
    return g_variant_lookup_value(values, key, type);
}

std::optional<std::string> stringValue(GVariant* values, const char* key)
{
    GVariant* value = lookup(values, key, G_VARIANT_TYPE_STRING);
    if (value == nullptr)
        return std::nullopt;
    std::string text = g_variant_get_string(value, nullptr);
    g_variant_unref(value);
    return text;
}

// The integer rule (eventInteger); nullopt when absent, -1 when unreadable.
std::optional<std::int32_t> integerValue(GVariant* values, const char* key)
{
    GVariant* value = lookup(values, key);
    if (value == nullptr)
        return std::nullopt;
    std::int32_t result = eventInteger(value).value_or(-1);
    g_variant_unref(value);
    return result;
}

// A switch value ("0" off, any other integer on); nullopt after logging
// when the text is not a base-10 integer.
std::optional<bool> switchValue(const char* key, const std::string& text)
{
    auto value = decimalValue(text);
    if (!value) {
        quillonLog(LOG_WARNING, "Event value %s '%s' is not an integer, event dropped\n", key,
                   text.c_str());
        return std::nullopt;
    }
    return *value != 0;
}

void handleSetAutoTriggers(GVariant* values, const EventActions& actions)
{
    const char* key = "setAutoTriggers";
    auto text = stringValue(values, key);
    if (!text) {
        quillonLog(LOG_WARNING, "%s tag missing\n", key);
        return;
    }
    if (auto enabled = switchValue(key, *text))
        actions.setAutoTriggers(*enabled);
}

void handleSetProfile(GVariant* values, const EventActions& actions)
{
    auto id = integerValue(values, "profileId");
    if (!id)
        return;
    const char* key = "setActive";
    auto text = stringValue(values, key);
    if (!text) {
        quillonLog(LOG_WARNING, "%s not found\n", key);
        return;
    }
    if (auto enabled = switchValue(key, *text))
        actions.setProfileEnabled(*id, *enabled);
}

void handleSetTemporaryZone(GVariant* values, const EventActions& actions)
{
    const char* key = "setTemporaryZone";
    auto type = stringValue(values, key);
    if (!type) {
        quillonLog(LOG_ERR, "Temporary zone %s not found\n", key);
        return;
    }
    temp_trigger_settings_t zone;
    zone.fullscreen = *type == "fullscreen";
    zone.timeout = integerValue(values, "timeout").value_or(-1);
    zone.gotoPreset = -1;
    static const std::string kGotoPreset = "gotoPreset=";
    auto pre = stringValue(values, "preTrackingAction");
    if (pre && pre->size() > kGotoPreset.size() && pre->starts_with(kGotoPreset)) {
        std::string number = pre->substr(kGotoPreset.size());
        if (auto preset = digitsValue(number))
            zone.gotoPreset = *preset;
        else
            quillonLog(LOG_WARNING, "handleSetTemporaryZone preTracking numberStr invalid: '%s'\n",
                       number.c_str());
    }
    auto post = stringValue(values, "postTrackingAction");
    zone.gotoHomeAfter = post && post->starts_with("gotoHome");
    zone.preTriggerTime = 500;
    actions.setTemporaryZone(zone);
}

} // namespace

const EventActions& daemonEventActions()
{
    static const EventActions actions{
        [](bool enabled) {
            apiState().autoTrackingEnabled = enabled;
            Channel::instance().postSettings(auto_tracking_state_t{enabled});
        },
        [](int id, bool enabled) { return setZoneProfileEnabled(id, enabled); },
        [](const temp_trigger_settings_t& zone) { Channel::instance().postSettings(zone); },
    };
    return actions;
}

void handleNotifyEvent(GVariant* parameters, const EventActions& actions)
{
    if (parameters == nullptr || !g_variant_is_of_type(parameters, G_VARIANT_TYPE_TUPLE) ||
        g_variant_n_children(parameters) < 3) {
        quillonLog(LOG_WARNING, "NotifyEvent of unexpected form %s dropped\n",
                   parameters != nullptr ? variantText(parameters).c_str() : "(none)");
        return;
    }
    GVariant* values = g_variant_get_child_value(parameters, 2);
    if (!g_variant_is_of_type(values, G_VARIANT_TYPE_VARDICT)) {
        quillonLog(LOG_WARNING, "NotifyEvent values %s of unexpected type dropped\n",
                   variantText(values).c_str());
        g_variant_unref(values);
        return;
    }
    auto name = stringValue(values, "topic2");
    if (name == "SetAutoTriggers")
        handleSetAutoTriggers(values, actions);
    else if (name == "SetProfile")
        handleSetProfile(values, actions);
    else if (name == "SetTemporaryZone")
        handleSetTemporaryZone(values, actions);
    g_variant_unref(values);
}

} // namespace quillon
