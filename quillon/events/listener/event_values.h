#pragma once

#include <glib.h>

#include <cstdint>
#include <optional>
#include <string>

namespace quillon
{

// Readers of the values of received events. Pure functions, any thread.

// An event's integer: an "i" variant gives its value, "b" 0 or 1, an "s"
// variant of decimal digits only (at least one) their value when it fits in
// int32; anything else is unreadable.
std::optional<std::int32_t> eventInteger(GVariant* value);

// `text` of decimal digits only (at least one) that fit in int32.
std::optional<std::int32_t> digitsValue(const std::string& text);

// A base-10 integer text: leading white space, an optional sign, then
// digits only, within int32. Nothing else (no trailing text, no overflow).
std::optional<std::int32_t> decimalValue(const std::string& text);

} // namespace quillon
