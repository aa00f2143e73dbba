#pragma once

#include <json-c/json.h>

#include <string>
#include <vector>

#include "quillon/inputs/vod/vod_object_type.h"

namespace quillon
{

inline constexpr const char* kVodObjectClassFile = "vod_object_class_settings.conf";

// The object-class settings file: a list of VodObjectType under
// "VodObjectClassSettings" / "ObjectClasses", in file order.
//
// {"VodObjectClassSettings": {"ObjectClasses": [
//     {"id": 0, "name": "human", "threshold": -1, "human": true, "enabled": true}, ...]}}
//
// Not locked: loaded by the owner of the detection client on one thread.
class VodObjectClassSettings
{
public:
    explicit VodObjectClassSettings(std::string fileName = kVodObjectClassFile);

    // Reads and decodes the file; false (and logged) when it is missing,
    // empty or not JSON.
    bool load();
    // Takes the classes of root["VodObjectClassSettings"]["ObjectClasses"];
    // a non-empty array replaces the list, entries without an id or a name
    // are skipped (and logged).
    void decode(json_object* root, int source);
    // Adds the list to `root`; nothing when it is empty.
    void encode(json_object* root) const;
    // Appends the seven default classes (and logs each).
    void addDefaults();
    // Writes the list to the file atomically.
    bool store();
    // Loads the file, or writes the defaults when it cannot be loaded. A
    // file without one valid class keeps its text; the defaults are used in
    // memory. Returns the classes by id, the first entry of an id winning.
    VodClassMap loadOrCreate();

    const std::vector<VodObjectType>& classes() const { return classes_; }
    const std::string& fileName() const { return fileName_; }

private:
    std::string fileName_;
    std::vector<VodObjectType> classes_;
};

} // namespace quillon
