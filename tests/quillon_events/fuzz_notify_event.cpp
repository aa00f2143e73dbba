// Fuzzes the handling of received control events. The first byte picks the
// form of the rest: even, the serialised NotifyEvent parameters (untrusted
// GVariant data of the signal's type); odd, the event's values as GVariant
// text of an a{sv}, with "topic2" one of the three handled events or
// another (by the first byte's upper bits). The handlers must neither crash
// nor hang; what they would do is recorded and dropped.
#include <glib.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "quillon/events/listener/notify_event.h"

using namespace quillon;

namespace
{

const char* kLeaves[] = {"SetAutoTriggers", "SetProfile", "SetTemporaryZone", "Other"};

const EventActions& noActions()
{
    static const EventActions actions{[](bool) {}, [](int, bool) { return 1; },
                                      [](const temp_trigger_settings_t& zone) {
                                          if (zone.preTriggerTime != 500)
                                              abort();
                                      }};
    return actions;
}

GVariant* fromText(const char* leaf, const std::string& text)
{
    GVariant* parsed =
        g_variant_parse(G_VARIANT_TYPE_VARDICT, text.c_str(), nullptr, nullptr, nullptr);
    GVariantDict dict;
    g_variant_dict_init(&dict, parsed);
    g_variant_dict_insert(&dict, "topic2", "s", leaf);
    GVariant* values = g_variant_dict_end(&dict);
    if (parsed != nullptr)
        g_variant_unref(parsed);
    GVariant* noStrings = g_variant_new_array(G_VARIANT_TYPE("{ss}"), nullptr, 0);
    GVariant* noVariants = g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
    // One floating reference each: make real ones for the repeated use.
    g_variant_ref_sink(noStrings);
    g_variant_ref_sink(noVariants);
    GVariant* parameters =
        g_variant_new("(x@a{ss}@a{sv}@a{ss}@a{ss}@a{ss}@a{sv}s)", gint64(0), noStrings, values,
                      noStrings, noStrings, noStrings, noVariants, "");
    g_variant_unref(noStrings);
    g_variant_unref(noVariants);
    return g_variant_ref_sink(parameters);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("QUILLON_LOG_STDERR", "", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    GVariant* parameters = nullptr;
    if ((data[0] & 1) == 0) {
        GBytes* bytes = g_bytes_new(data + 1, size - 1);
        parameters = g_variant_ref_sink(g_variant_new_from_bytes(
            G_VARIANT_TYPE("(xa{ss}a{sv}a{ss}a{ss}a{ss}a{sv}s)"), bytes, FALSE));
        g_bytes_unref(bytes);
    } else {
        std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
        if (text.find('\0') != std::string::npos)
            return 0;
        parameters = fromText(kLeaves[(data[0] >> 1) % 4], text);
    }
    handleNotifyEvent(parameters, noActions());
    g_variant_unref(parameters);
    return 0;
}
