#pragma once

#include <json-c/json.h>

#include <cstdint>
#include <map>
#include <optional>

#include "quillon/config/settings/general_settings.h"
#include "quillon/config/zones/zone_edit_context.h"
#include "quillon/config/zones/zone_profile_settings.h"

namespace quillon
{

// Result codes of the zone-profile operations (0 = success).
enum ZoneProfileError : int {
    kZoneBadParams = 1004,          // params (or the file's root) of the wrong type
    kZoneBadId = 1005,              // delete with a bad "id", or a file zone without a valid id
    kZoneUnknownId = 1101,          // id not stored or invalid
    kZoneListFull = 1102,           // no free id
    kZoneBadCoordinates = 1103,     // empty, odd or non-finite coordinate array
    kZoneTooManyCoordinates = 1104, // more than 20 values
    kZoneTooFewPoints = 1105,       // fewer than 3 points, or a stored zone without points
    kZoneNoPosition = 1108,         // no valid camera position for a picture polygon
    kZoneNoPoints = 1109,           // a new zone without points
    kZoneInactive = 1110,           // service inactive (edits) or no camera position (encoding)
    kZoneIdGiven = 1111,            // "id" given to add
};

// How a zone is written by encode().
enum class ZoneEncoding {
    File = kToFile, // "pt_polygon" in pan/tilt degrees
    Api = kToApi,   // "px_polygon" in picture coordinates and "presetStatus"
};

// The zone profiles of "profiles.conf": an ordered map id -> zone and the
// maximum number of zones. Every change publishes the zone's
// ZoneProfileSettingsMessage; the file is written by the settings-file
// holder (see zone_profiles_file.h), whose load calls fromJson and whose
// save calls toJson.
//
// Not locked itself: the process-wide store is only touched under
// zoneProfilesMutex() (zone_profiles_file.h). The API edits a copy and
// assigns it back when the edit succeeded.
class ZoneProfileStore : public CopyableSettings<ZoneProfileStore>
{
public:
    static constexpr int kDefaultMaximum = 10;
    static constexpr int kMaxCoordinates = 20;
    static constexpr int kMinCoordinates = 6;

    ZoneProfileStore();

    // Load: {"profiles": [...]} with pan/tilt polygons.
    int fromJson(json_object* parent, int source, json_object* errors) override;
    // {"profiles": [...]} for the file (pan/tilt, no position needed).
    int toJson(json_object* parent, int target) override;
    // Publishes every zone in id order.
    void publish() override;
    // A file that cannot be loaded is kept as "<file>.bad" before the
    // store is written back.
    bool keepsRejectedFile() const override { return true; }

    // Smallest id in 1 ... maximum not in use; -1 (and a warning) when full.
    int nextFreeId() const;
    // Posts the zone's message; nothing for an id not stored.
    void publish(int id) const;
    // Adds the zone as an object to `out`. `needPosition`: without a valid
    // camera position an API encoding fails (1110) instead of leaving out
    // "px_polygon".
    int encode(int id, ZoneEncoding mode, json_object* out, const ZoneEditContext& context,
               bool needPosition = true) const;
    // Adds "profiles": [every zone encoded] to `out`; the first failing
    // zone's code and nothing added on failure.
    int list(ZoneEncoding mode, json_object* out, const ZoneEditContext& context,
             bool needPosition = true) const;

    // The JSON API's operations. `result` receives a new object on success.
    int get(json_object* params, json_object** result, const ZoneEditContext& context) const;
    int add(json_object* params, json_object** result, const ZoneEditContext& context);
    int update(json_object* params, const ZoneEditContext& context);
    // Deletes the zone or zones named by "id". `changed` tells whether any
    // zone was deleted (a list can fail after deleting its first elements).
    int remove(json_object* params, bool& changed);

    // From the zone activation event: 1 when the zone exists and was set.
    int setEnabled(int id, bool enabled);
    void setMaximum(int maximum) { maximum_ = maximum; }
    int maximum() const { return maximum_; }

    const std::map<int, ZoneProfileSettings>& profiles() const { return profiles_; }
    std::optional<ZoneProfileSettings> find(int id) const;

private:
    int load(json_object* root);
    int removeOne(std::int64_t id);

    std::map<int, ZoneProfileSettings> profiles_;
    int maximum_ = kDefaultMaximum;
};

// Reads the zone fields of `object` into `zone`, which holds the defaults
// or the current values. `fromApi`: polygon "px_polygon" in picture
// coordinates (needs an active service and a camera position), else
// "pt_polygon" in pan/tilt degrees. The other fields are read whatever the
// polygon's result; the zone is used only when 0 is returned.
int parseZoneProfile(json_object* object, bool fromApi, const ZoneEditContext& context,
                     ZoneProfileSettings& zone);

} // namespace quillon
