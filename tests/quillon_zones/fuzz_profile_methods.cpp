// libFuzzer target: the profile methods' params with an active service and a
// valid camera position. The input is one JSON object of params, given in
// turn to add, update, get and delete on one store that lives across
// inputs; the store must stay encodable and its zones valid.
#include <stdlib.h>

#include <cmath>
#include <string>

#include "quillon/config/settings/json_values.h"
#include "quillon/config/zones/zone_profile_store.h"
#include "quillon_settings/bus_drain.h"

namespace
{

quillon::ZoneEditContext context()
{
    quillon::ZoneEditContext c;
    c.active = true;
    c.camera.valid = true;
    c.camera.record.pan = 170.0f;
    c.camera.record.tilt = -20.0f;
    c.camera.record.horizontalFov = 60.0f;
    c.camera.record.verticalFov = 34.0f;
    c.format.rotation = 180;
    return c;
}

void check(quillon::ZoneProfileStore& store)
{
    quillon::json::JsonPtr out(json_object_new_object());
    if (store.list(quillon::ZoneEncoding::File, out.get(), context()) != 0)
        abort();
    for (const auto& [id, zone] : store.profiles()) {
        if (id < 1 || zone.points.size() < 3 || zone.points.size() > 10)
            abort();
        for (const auto& p : zone.points)
            if (!std::isfinite(p.x) || !std::isfinite(p.y))
                abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    unsetenv("QUILLON_LOG_STDERR");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static quillon::ZoneProfileStore store;
    auto params = quillon::json::parse(std::string(reinterpret_cast<const char*>(data), size));
    if (params == nullptr)
        return 0;
    const auto c = context();
    json_object* result = nullptr;
    store.add(params.get(), &result, c);
    json_object_put(result);
    result = nullptr;
    store.update(params.get(), c);
    store.get(params.get(), &result, c);
    json_object_put(result);
    quillon::json::JsonPtr list(json_object_new_object());
    store.list(quillon::ZoneEncoding::Api, list.get(), c);
    bool changed = false;
    if (size % 3 == 0)
        store.remove(params.get(), changed);
    check(store);
    quillontest::drainBus();
    return 0;
}
