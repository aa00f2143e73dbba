#include "quillon/events/listener/event_values.h"

#include <cctype>
#include <charconv>

namespace quillon
{

std::optional<std::int32_t> digitsValue(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9')
            return std::nullopt;
    std::int32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt; // beyond int32
    return value;
}

std::optional<std::int32_t> decimalValue(const std::string& text)
{
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    std::string digits = text.substr(at);
    // The magnitude as int64 so that INT32_MIN is read as well.
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    std::int64_t magnitude = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> eventInteger(GVariant* value)
{
    if (value == nullptr)
        return std::nullopt;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT32))
        return g_variant_get_int32(value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN))
        return g_variant_get_boolean(value) ? 1 : 0;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
        return digitsValue(g_variant_get_string(value, nullptr));
    return std::nullopt;
}

} // namespace quillon
