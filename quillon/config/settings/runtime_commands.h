#pragma once

#include "quillon/core/message.h"

namespace quillon
{

// Runtime commands posted on the bus by the JSON API and the event listener.
// They are not persisted.

// Automatic triggering on or off.
struct auto_tracking_state_t {
    bool enabled = true;
};

// Publishing of the tracking-state event on or off.
struct tracking_event_state_t {
    bool enabled = false;
};

// Picture orientation and size; width and height are 0 when the caller gave
// no valid resolution (the stored picture format is then unchanged).
struct viewport_configuration_t {
    int rotation = -1;
    int width = 0;
    int height = 0;
};

// A temporary trigger zone.
struct temp_trigger_settings_t {
    bool fullscreen = true;
    int timeout = 30;    // seconds
    int gotoPreset = -1; // preset to visit first, -1 for none
    bool gotoHomeAfter = false;
    int preTriggerTime = 500; // milliseconds
};

// Asks the tracker to follow one object by id.
class SetTrackingObjMessage : public Message
{
public:
    explicit SetTrackingObjMessage(int id) : targetId(id) {}

    int targetId;
};

} // namespace quillon
