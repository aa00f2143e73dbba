#pragma once

#include <glib.h>

#include <functional>

#include "quillon/config/settings/runtime_commands.h"

namespace quillon
{

// What the received events do. The daemon's actions post on the message
// bus or call the zone-profile store; tests put recorders in their place.
struct EventActions {
    // Auto-triggers on or off.
    std::function<void(bool enabled)> setAutoTriggers;
    // A zone profile's enabled flag; 1 when the zone exists and was set.
    std::function<int(int id, bool enabled)> setProfileEnabled;
    // A temporary trigger zone.
    std::function<void(const temp_trigger_settings_t& zone)> setTemporaryZone;
};

// The daemon's actions: the API state's auto-triggers flag and an
// auto_tracking_state_t message; the process-wide zone store (under its
// lock, "profiles.conf" saved after a change); a temp_trigger_settings_t
// message.
const EventActions& daemonEventActions();

// The parameters of one NotifyEvent signal,
// "(x@a{ss}@a{sv}@a{ss}@a{ss}@a{ss}@a{sv}s)": the third member holds the
// topic levels ("topic0", "topic1", ...) and the event's values. The level
// "topic2" selects SetAutoTriggers, SetProfile or SetTemporaryZone; other
// events are ignored. Bad input is logged and dropped. Any thread; never
// throws.
void handleNotifyEvent(GVariant* parameters, const EventActions& actions);

} // namespace quillon
