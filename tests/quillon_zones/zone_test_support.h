#pragma once

#include <json-c/json.h>

#include <string>
#include <vector>

#include "quillon/config/settings/json_values.h"
#include "quillon/config/zones/zone_edit_context.h"
#include "quillon/config/zones/zone_profile_settings.h"
#include "quillon_settings/bus_recorder.h"

namespace quillontest
{

// A camera at pan 0, tilt 0 with a 60 x 34 degree view; the picture format
// has no rotation set, so conversions are linear: picture (0.5, 0.5) is
// pan/tilt (0, 0) and each picture unit spans the field of view.
inline quillon::ZoneEditContext activeContext(float pan = 0.0f, float tilt = 0.0f)
{
    quillon::ZoneEditContext context;
    context.active = true;
    context.camera.valid = true;
    context.camera.record.pan = pan;
    context.camera.record.tilt = tilt;
    context.camera.record.horizontalFov = 60.0f;
    context.camera.record.verticalFov = 34.0f;
    return context;
}

inline quillon::json::JsonPtr parseJson(const std::string& text)
{
    auto value = quillon::json::parse(text);
    EXPECT_NE(value, nullptr) << text;
    return value;
}

inline std::string plain(json_object* object)
{
    return object ? json_object_to_json_string_ext(object, JSON_C_TO_STRING_PLAIN) : "null";
}

// The zone messages the bus delivered, in order.
inline std::vector<quillon::ZoneProfileSettings> zoneMessages(BusRecorder& bus)
{
    std::vector<quillon::ZoneProfileSettings> zones;
    for (const auto& message : bus.ofClass<quillon::ZoneProfileSettingsMessage>())
        zones.push_back(message.zone);
    return zones;
}

} // namespace quillontest
