// libFuzzer target: loading every settings record from arbitrary file
// content. Whatever a load keeps must survive being written and read back.
#include <stdlib.h>

#include <string>

#include "quillon/config/settings/application_settings.h"
#include "quillon/config/settings/json_values.h"
#include "quillon/config/settings/product_settings.h"
#include "quillon/config/settings/settings_file.h"
#include "quillon/config/settings/tracker_settings.h"
#include "quillon_settings/bus_drain.h"

namespace
{

std::string fileText(quillon::GeneralSettings& record)
{
    quillon::json::JsonPtr object(json_object_new_object());
    record.toJson(object.get(), quillon::kToFile);
    json_c_set_serialization_double_format("%.6g", JSON_C_OPTION_THREAD);
    return json_object_to_json_string(object.get());
}

template <typename T> void roundTrip(const std::string& text)
{
    T loaded;
    quillon::loadSettingsText(loaded, text);
    std::string written = fileText(loaded);
    T reloaded;
    quillon::loadSettingsText(reloaded, written);
    if (fileText(reloaded) != written)
        abort();
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
    roundTrip<quillon::TrackerSettings>(text);
    roundTrip<quillon::ProductSettings>(text);
    roundTrip<quillon::ApplicationSettings>(text);
    quillontest::drainBus();
    return 0;
}
