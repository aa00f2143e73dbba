#include "quillon/config/zones/zone_profile_store.h"

#include <climits>
#include <cmath>
#include <memory>

#include "quillon/config/geometry/camera_geometry.h"
#include "quillon/config/geometry/coordinates.h"
#include "quillon/config/settings/json_values.h"
#include "quillon/core/channel.h"
#include "quillon/core/log.h"

namespace quillon
{

namespace
{

constexpr const char* kProfilesKey = "profiles";

bool isDouble(json_object* value)
{
    return json_object_get_type(value) == json_type_double;
}

// An int64 id that fits an int; anything else is no stored id.
std::optional<int> storableId(std::optional<std::int64_t> id)
{
    if (!id || *id < INT_MIN || *id > INT_MAX)
        return std::nullopt;
    return static_cast<int>(*id);
}

void addPoints(json_object* out, const char* key, const std::vector<Point>& points)
{
    json_object* array = json_object_new_array_ext(static_cast<int>(points.size() * 2));
    for (const Point& p : points) {
        json_object_array_add(array, json_object_new_double(p.x));
        json_object_array_add(array, json_object_new_double(p.y));
    }
    json_object_object_add(out, key, array);
}

// Checks the coordinate array and reads it into `points`. Integer-typed
// values are not coordinates: their pair is skipped (and logged).
int readPolygon(json_object* array, bool fromApi, const ZoneEditContext& context,
                std::vector<Point>& points)
{
    const size_t length = json_object_array_length(array);
    if (length == 0) {
        quillonLog(LOG_WARNING, "Coordinates array is empty\n");
        return kZoneBadCoordinates;
    }
    if (length % 2 != 0)
        return kZoneBadCoordinates;
    if (length > size_t(ZoneProfileStore::kMaxCoordinates))
        return kZoneTooManyCoordinates;
    if (length < size_t(ZoneProfileStore::kMinCoordinates))
        return kZoneTooFewPoints;
    for (size_t i = 0; i < length; ++i) {
        json_object* value = json_object_array_get_idx(array, i);
        if (isDouble(value) && !std::isfinite(json_object_get_double(value))) {
            quillonLog(LOG_WARNING, "Coordinate %zu is not a finite number\n", i);
            return kZoneBadCoordinates;
        }
    }

    std::optional<CameraGeometry> geometry;
    if (fromApi)
        geometry.emplace(context.camera.record, context.format);
    std::vector<Point> read;
    read.reserve(length / 2);
    for (size_t i = 0; i + 1 < length; i += 2) {
        json_object* x = json_object_array_get_idx(array, i);
        json_object* y = json_object_array_get_idx(array, i + 1);
        if (!isDouble(x) || !isDouble(y)) {
            quillonLog(LOG_WARNING, "Coordinate pair %zu skipped: not two decimal numbers\n",
                       i / 2);
            continue;
        }
        Point p{float(json_object_get_double(x)), float(json_object_get_double(y))};
        if (fromApi)
            p = pictureToPanTilt(p, context.camera.record, context.format, *geometry);
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
            quillonLog(LOG_WARNING, "Coordinate pair %zu is out of range\n", i / 2);
            return kZoneBadCoordinates;
        }
        read.push_back(p);
    }
    // Fewer than 3 points are no zone: a new zone without any keeps the
    // "no points" answer, everything else is refused as too few.
    if (read.size() < 3)
        return read.empty() && points.empty() ? kZoneNoPoints : kZoneTooFewPoints;
    points = std::move(read);
    return 0;
}

} // namespace

int parseZoneProfile(json_object* object, bool fromApi, const ZoneEditContext& context,
                     ZoneProfileSettings& zone)
{
    if (fromApi && !context.active)
        return kZoneInactive;
    int result = 0;
    if (json_object* array = json::arrayMember(object, fromApi ? "px_polygon" : "pt_polygon")) {
        if (fromApi && !context.camera.valid) {
            quillonLog(LOG_WARNING, "Invalid PTZ data - Zone not changed\n");
            result = kZoneNoPosition;
        } else {
            result = readPolygon(array, fromApi, context, zone.points);
        }
    }
    if (auto name = json::stringMember(object, "name"))
        zone.name = *name;
    if (auto preset = json::intMember(object, "preset"))
        zone.preset = json::clampToInt(*preset);
    else if (zone.preset < 1)
        zone.preset = -1;
    if (auto zoneType = json::intMember(object, "zoneType"))
        zone.zoneType = json::clampToInt(*zoneType);
    else if (!fromApi)
        zone.zoneType = 0;
    if (auto enabled = json::boolMember(object, "enabled"))
        zone.enabled = *enabled;
    return result;
}

ZoneProfileStore::ZoneProfileStore() : CopyableSettings<ZoneProfileStore>(kProfilesKey) {}

std::optional<ZoneProfileSettings> ZoneProfileStore::find(int id) const
{
    auto found = profiles_.find(id);
    if (found == profiles_.end())
        return std::nullopt;
    return found->second;
}

int ZoneProfileStore::nextFreeId() const
{
    for (int id = 1; id <= maximum_; ++id)
        if (profiles_.find(id) == profiles_.end())
            return id;
    quillonLog(LOG_WARNING, "Zone list full: %zu\n", size_t(maximum_ < 0 ? 0 : maximum_));
    return -1;
}

void ZoneProfileStore::publish(int id) const
{
    auto found = profiles_.find(id);
    if (found != profiles_.end())
        Channel::instance().post(std::make_unique<ZoneProfileSettingsMessage>(found->second));
}

void ZoneProfileStore::publish()
{
    for (const auto& entry : profiles_)
        publish(entry.first);
}

int ZoneProfileStore::encode(int id, ZoneEncoding mode, json_object* out,
                             const ZoneEditContext& context, bool needPosition) const
{
    auto found = profiles_.find(id);
    if (found == profiles_.end())
        return kZoneUnknownId;
    const ZoneProfileSettings& zone = found->second;
    if (mode == ZoneEncoding::Api && needPosition && !context.camera.valid)
        return kZoneInactive;
    if (zone.points.empty()) {
        quillonLog(LOG_ERR, "Error fetching polygon for profile %d, polygon empty.\n", id);
        return kZoneTooFewPoints;
    }
    json_object* object = json_object_new_object();
    if (mode == ZoneEncoding::File) {
        addPoints(object, "pt_polygon", zone.points);
    } else {
        if (context.camera.valid) {
            const CameraGeometry geometry(context.camera.record, context.format);
            if (auto visible = visiblePolygon(Polygon(zone.points), ViewMode::Picture,
                                              context.camera.record, context.format, geometry))
                addPoints(object, "px_polygon", visible->points());
        }
        const bool known = context.presetKnown && context.presetKnown(zone.preset);
        json_object_object_add(object, "presetStatus", json_object_new_int(known ? 1 : 0));
    }
    json_object_object_add(object, "id", json_object_new_int(zone.id));
    json_object_object_add(object, "name", json_object_new_string(zone.name.c_str()));
    json_object_object_add(object, "enabled", json_object_new_boolean(zone.enabled));
    json_object_object_add(object, "preset", json_object_new_int(zone.preset));
    json_object_object_add(object, "zoneType", json_object_new_int(zone.zoneType));
    json_object_array_add(out, object);
    return 0;
}

int ZoneProfileStore::list(ZoneEncoding mode, json_object* out, const ZoneEditContext& context,
                           bool needPosition) const
{
    json::JsonPtr array(json_object_new_array());
    for (const auto& entry : profiles_) {
        if (int code = encode(entry.first, mode, array.get(), context, needPosition))
            return code;
    }
    json_object_object_add(out, kProfilesKey, array.release());
    return 0;
}

int ZoneProfileStore::toJson(json_object* parent, int)
{
    return list(ZoneEncoding::File, parent, ZoneEditContext{});
}

int ZoneProfileStore::get(json_object* params, json_object** result,
                          const ZoneEditContext& context) const
{
    const int id = storableId(json::intMember(params, "id")).value_or(-1);
    json::JsonPtr array(json_object_new_array());
    if (int code = encode(id, ZoneEncoding::Api, array.get(), context))
        return code;
    // encode() adds the zone to an array; the reply is the zone itself.
    *result = json_object_get(json_object_array_get_idx(array.get(), 0));
    return 0;
}

int ZoneProfileStore::add(json_object* params, json_object** result, const ZoneEditContext& context)
{
    if (!json_object_is_type(params, json_type_object))
        return kZoneBadParams;
    if (json::hasKey(params, "id"))
        return kZoneIdGiven;
    ZoneProfileSettings zone;
    zone.id = nextFreeId();
    if (zone.id < 0)
        return kZoneListFull;
    if (int code = parseZoneProfile(params, true, context, zone))
        return code;
    if (zone.points.empty())
        return kZoneNoPoints;
    if (zone.name.empty())
        zone.name = "profile_" + std::to_string(zone.id);
    profiles_[zone.id] = zone;
    publish(zone.id);
    *result = json_object_new_object();
    json_object_object_add(*result, "id", json_object_new_int(zone.id));
    json_object_object_add(*result, "name", json_object_new_string(zone.name.c_str()));
    return 0;
}

int ZoneProfileStore::update(json_object* params, const ZoneEditContext& context)
{
    if (!json_object_is_type(params, json_type_object))
        return kZoneBadParams;
    auto id = json::intMember(params, "id");
    if (!id)
        return kZoneUnknownId;
    if (*id < 1) {
        quillonLog(LOG_INFO, "Can't update a profile with ID %d, invalid id.\n",
                   json::clampToInt(*id));
        return kZoneUnknownId;
    }
    auto stored = storableId(id);
    auto found = stored ? profiles_.find(*stored) : profiles_.end();
    if (found == profiles_.end()) {
        quillonLog(LOG_INFO, "Can't update profile with ID %d, it doesn't exist!\n",
                   json::clampToInt(*id));
        return kZoneUnknownId;
    }
    ZoneProfileSettings copy = found->second;
    if (int code = parseZoneProfile(params, true, context, copy))
        return code;
    found->second = copy;
    publish(copy.id);
    return 0;
}

int ZoneProfileStore::removeOne(std::int64_t id)
{
    auto stored = id >= 1 ? storableId(id) : std::nullopt;
    auto found = stored ? profiles_.find(*stored) : profiles_.end();
    if (found == profiles_.end()) {
        quillonLog(LOG_INFO, "Can't delete profile with ID %d, it doesn't exist!\n",
                   json::clampToInt(id));
        return kZoneUnknownId;
    }
    // An empty polygon tells every container to drop the zone.
    found->second.points.clear();
    found->second.enabled = false;
    publish(found->first);
    profiles_.erase(found);
    return 0;
}

int ZoneProfileStore::remove(json_object* params, bool& changed)
{
    changed = false;
    if (!json_object_is_type(params, json_type_object))
        return kZoneBadParams;
    if (auto id = json::intMember(params, "id")) {
        int code = removeOne(*id);
        changed = code == 0;
        return code;
    }
    json_object* ids = json::arrayMember(params, "id");
    if (ids == nullptr)
        return kZoneBadId;
    const size_t length = json_object_array_length(ids);
    for (size_t i = 0; i < length; ++i) {
        json_object* element = json_object_array_get_idx(ids, i);
        if (!json_object_is_type(element, json_type_int))
            continue;
        if (int code = removeOne(json_object_get_int64(element)))
            return code;
        changed = true;
    }
    return 0;
}

int ZoneProfileStore::setEnabled(int id, bool enabled)
{
    auto found = id >= 1 ? profiles_.find(id) : profiles_.end();
    if (found == profiles_.end()) {
        quillonLog(LOG_INFO, "Can't update profile with ID %d, it doesn't exist!\n", id);
        return 0;
    }
    found->second.enabled = enabled;
    publish(id);
    return 1;
}

int ZoneProfileStore::fromJson(json_object* parent, int, json_object*)
{
    return load(parent);
}

int ZoneProfileStore::load(json_object* root)
{
    json_object* array = json::arrayMember(root, kProfilesKey);
    if (array == nullptr)
        return kZoneBadParams;
    const size_t length = json_object_array_length(array);
    int result = 0;
    for (size_t i = 0; i < length; ++i) {
        json_object* element = json_object_array_get_idx(array, i);
        if (!json_object_is_type(element, json_type_object))
            continue;
        ZoneProfileSettings zone;
        // Ids below 1 could never be updated or deleted; ids beyond int
        // must not land on another zone's id.
        auto id = storableId(json::intMember(element, "id"));
        if (!id || *id < 1) {
            quillonLog(LOG_WARNING, "Zone without valid ID: %d/%d\n", int(i), int(length));
            result = kZoneBadId;
            continue;
        }
        zone.id = *id;
        result = parseZoneProfile(element, false, ZoneEditContext{}, zone);
        if (result != 0)
            continue;
        if (zone.points.empty()) {
            result = kZoneNoPoints;
            continue;
        }
        if (zone.name.empty())
            zone.name = "profile_" + std::to_string(zone.id);
        profiles_[zone.id] = zone;
        publish(zone.id);
    }
    return result;
}

} // namespace quillon
