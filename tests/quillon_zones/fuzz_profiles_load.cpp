// libFuzzer target: loading profiles.conf from arbitrary content. The zones
// a load keeps must be written and read back unchanged, and every kept zone
// must be a polygon of 3 to 10 finite points with an id of at least 1.
#include <stdlib.h>

#include <cmath>
#include <string>

#include "quillon/config/settings/json_values.h"
#include "quillon/config/settings/settings_file.h"
#include "quillon/config/zones/zone_profile_store.h"
#include "quillon_settings/bus_drain.h"

namespace
{

std::string fileText(quillon::ZoneProfileStore& store)
{
    quillon::json::JsonPtr object(json_object_new_object());
    if (store.toJson(object.get(), quillon::kToFile) != 0)
        abort();
    json_c_set_serialization_double_format("%.6g", JSON_C_OPTION_THREAD);
    std::string text = json_object_to_json_string(object.get());
    json_c_set_serialization_double_format(nullptr, JSON_C_OPTION_THREAD);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    unsetenv("QUILLON_LOG_STDERR");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    quillon::ZoneProfileStore loaded;
    quillon::loadSettingsText(loaded, text);
    for (const auto& [id, zone] : loaded.profiles()) {
        if (id < 1 || zone.id != id || zone.points.size() < 3 || zone.points.size() > 10)
            abort();
        for (const auto& p : zone.points)
            if (!std::isfinite(p.x) || !std::isfinite(p.y))
                abort();
    }
    std::string written = fileText(loaded);
    quillon::ZoneProfileStore reloaded;
    quillon::loadSettingsText(reloaded, written);
    if (fileText(reloaded) != written)
        abort();
    quillontest::drainBus();
    return 0;
}
