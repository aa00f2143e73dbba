#include "quillon/events/confirmation/status_text.h"

#include <json-c/json.h>

#include <cmath>

#include "quillon/config/geometry/coordinates.h"
#include "quillon/tracking/tracker/analyzed_video_message.h"

namespace quillon
{

namespace
{

const char* sourceColour(std::int32_t source)
{
    switch (source) {
    case kSourceDetection:
        return "#FFFF00";
    case kSourceFused:
        return "#BB0000";
    case kSourceScene:
        return "#0000CC";
    default:
        return nullptr;
    }
}

bool finite(const PictureBox& b)
{
    return std::isfinite(b.x) && std::isfinite(b.y) && std::isfinite(b.width) &&
           std::isfinite(b.height);
}

void add(json_object* object, const char* key, json_object* value)
{
    json_object_object_add(object, key, value);
}

// The object's entry, or null when it is not listed.
json_object* objectEntry(const TrackingObject& object, int rotation, bool debugView, bool tracked)
{
    const bool confident = object.isConfident();
    if (!debugView && !confident && !tracked)
        return nullptr;
    const PictureBox box = pictureBox(object.getBox(), rotation);
    if (!finite(box))
        return nullptr;
    json_object* entry = json_object_new_object();
    if (object.id >= 0)
        add(entry, "id", json_object_new_int(object.id));
    if ((object.flags & kFlagReported) == 0)
        add(entry, "active", json_object_new_boolean(false));
    if (debugView) {
        if (const char* colour = sourceColour(object.source))
            add(entry, "color", json_object_new_string(colour));
        if (confident && object.moving)
            add(entry, "color", json_object_new_string("#0000FF"));
    }
    add(entry, "x", json_object_new_double(box.x));
    add(entry, "y", json_object_new_double(box.y));
    add(entry, "width", json_object_new_double(box.width));
    add(entry, "height", json_object_new_double(box.height));
    if (tracked)
        add(entry, "tracking", json_object_new_boolean(true));
    if (debugView && !object.typeName.empty() && object.typeName.size() < 100)
        add(entry, "text", json_object_new_string(object.typeName.c_str()));
    return entry;
}

// The zone's entry, or null when a coordinate is not finite.
json_object* zoneEntry(const VisualZone& zone)
{
    for (const Point& p : zone.polygon.points())
        if (!std::isfinite(p.x) || !std::isfinite(p.y))
            return nullptr;
    json_object* entry = json_object_new_object();
    add(entry, "profileId", json_object_new_int(zone.profileId));
    add(entry, "zoneType", json_object_new_int(zone.zoneType));
    add(entry, "enabled", json_object_new_boolean(zone.enabled));
    json_object* polygon = json_object_new_array_ext(int(zone.polygon.size() * 2));
    for (const Point& p : zone.polygon.points()) {
        json_object_array_add(polygon, json_object_new_double(p.x));
        json_object_array_add(polygon, json_object_new_double(p.y));
    }
    add(entry, "polygon", polygon);
    return entry;
}

} // namespace

PictureBox pictureBox(const Box& box, int rotation)
{
    PictureBox out;
    if (rotation == 0 || rotation == 180) {
        // Rotation 0: the top left is the device box's (x, y + h) corner;
        // 180 turns the picture: its (x + w, y) corner.
        Point corner =
            rotation == 0 ? Point{box.x, box.y + box.height} : Point{box.x + box.width, box.y};
        Point picture = deviceToPicture(corner, rotation);
        out.x = picture.x;
        out.y = picture.y;
    }
    out.width = double(box.width) / 2.0;
    out.height = double(box.height) / 2.0;
    return out;
}

std::string statusText(const AnalyzedVideoMessage& scene, bool debugView)
{
    json_object* root = json_object_new_object();
    json_object* objects = nullptr;
    std::int32_t trackedId = -1;
    for (const auto& object : scene.objects) {
        if (object == nullptr)
            continue;
        const bool tracked = (object->flags & kFlagTracked) != 0;
        json_object* entry = objectEntry(*object, scene.rotation, debugView, tracked);
        if (entry == nullptr)
            continue;
        if (tracked)
            trackedId = object->id;
        if (objects == nullptr)
            objects = json_object_new_array_ext(int(scene.objects.size()));
        json_object_array_add(objects, entry);
    }
    if (objects != nullptr)
        add(root, "objects", objects);
    json_object* zones = nullptr;
    for (const auto& zone : scene.zones) {
        json_object* entry = zoneEntry(zone);
        if (entry == nullptr)
            continue;
        if (zones == nullptr)
            zones = json_object_new_array_ext(int(scene.zones.size()));
        json_object_array_add(zones, entry);
    }
    if (zones != nullptr)
        add(root, "zones", zones);
    if (scene.latestResult != 0)
        add(root, "latestResult", json_object_new_int(scene.latestResult));
    add(root, "trackerEnabled", json_object_new_boolean(scene.trackerEnabled));
    if (trackedId >= 0)
        add(root, "trackedId", json_object_new_int(trackedId));
    if (scene.moving)
        add(root, "isMoving", json_object_new_boolean(true));
    add(root, "zoomMag",
        json_object_new_double(std::isfinite(scene.zoomMag) ? scene.zoomMag : 0.0));

    json_c_set_serialization_double_format("%.4g", JSON_C_OPTION_THREAD);
    std::string text = json_object_to_json_string_ext(root, JSON_C_TO_STRING_PLAIN);
    json_c_set_serialization_double_format(nullptr, JSON_C_OPTION_THREAD);
    json_object_put(root);
    return text;
}

} // namespace quillon
