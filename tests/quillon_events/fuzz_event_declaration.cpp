// Fuzzes the event declaration language: the input is a topic string and a
// key list separated by the first NUL (the first byte, odd or even,
// also picks the leading flag). Both builders must return nothing or a value
// of their exact type in normal form, and no accepted level or key name may
// hold one of "{}()[]".
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "quillon/events/producer/event_declaration.h"

namespace
{

void check(GVariant* built, const char* type)
{
    if (built == nullptr)
        return;
    g_variant_ref_sink(built);
    if (!g_variant_is_of_type(built, G_VARIANT_TYPE(type)) || !g_variant_is_normal_form(built))
        abort();
    g_variant_unref(built);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    unsetenv("QUILLON_LOG_STDERR");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t nul = input.find('\0');
    std::string topic = input.substr(0, nul);
    std::string keys = nul == std::string::npos ? "" : input.substr(nul + 1);
    bool leading = size > 0 && (data[0] & 1) != 0;

    for (auto& level : quillon::parseTopic(topic))
        if (level.name.find_first_of("{}()[]") != std::string::npos)
            abort();
    for (auto& key : quillon::parseKeys(keys))
        if (key.name.find_first_of("{}()[]") != std::string::npos)
            abort();
    check(quillon::generateEventDeclaration(topic, keys, leading),
          "(ba{ss}a{sv}a{ss}a{ss}a{ss}a{sv}s)");
    check(quillon::generateEventSubscription(topic, keys), "(a{ss}a{sv}a{ss}a{sv})");
    return 0;
}
