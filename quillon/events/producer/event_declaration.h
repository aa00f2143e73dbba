#pragma once

#include <glib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillon
{

// The event declaration language of the camera's event system.
//
// A topic is a "/"-separated list of levels, each
//     [namespace:]name[(nice name)]{tag}...
// and a key list a ","-separated list of keys, each
//     name[(description)][[type letter]]{tag}...
// with the type letters b (bool) and i (int); anything else is a string.
// Levels and keys whose name would hold one of "{}()[]" are refused with a
// warning and left out; empty levels and keys are dropped.
//
// Pure functions, callable from any thread. The builders return a floating
// GVariant (as g_variant_new does) or null when nothing usable was left.

enum ValueType : int32_t {
    VALUE_TYPE_BOOL = 0,
    VALUE_TYPE_INT = 1,
    VALUE_TYPE_DOUBLE = 2,
    VALUE_TYPE_STRING = 3,
};

// "VALUE_TYPE_BOOL", "VALUE_TYPE_INT", "VALUE_TYPE_DOUBLE"; every other value
// "VALUE_TYPE_STRING".
const char* valueTypeName(int32_t type);

struct TopicLevel {
    std::string nameSpace;
    std::string name;
    int32_t index = 0; // position among the accepted levels
    std::string niceName;
    std::vector<std::string> tags;
};

struct EventKey {
    std::string name;
    int32_t valueType = VALUE_TYPE_STRING;
    std::string description;
    std::vector<std::string> tags; // without "property-state"
    bool isPropertyState = false;
};

// Flags of declareFlaggedEvent.
enum EventFlag : uint32_t {
    EVENT_FLAG_PROPERTY_STATE = 1u << 0,
    EVENT_FLAG_APPLICATION_DATA = 1u << 1,
    EVENT_FLAG_DEPRECATED = 1u << 2,
    EVENT_FLAG_ONVIF_DATA = 1u << 3,
    EVENT_FLAG_ONVIF_SOURCE = 1u << 4,
    EVENT_FLAG_LEADING = 1u << 5,
};

std::vector<TopicLevel> parseTopic(const std::string& topic);
std::vector<EventKey> parseKeys(const std::string& keySpec);

// A D-Bus string of `text` (floating): invalid UTF-8 is replaced by U+FFFD,
// text after a NUL is dropped.
GVariant* eventString(const std::string& text);

// The level key of a declaration or filter: "topic" and the decimal index.
std::string topicKey(int32_t index);

// DeclareEvent's argument "(b@a{ss}@a{sv}@a{ss}@a{ss}@a{ss}@a{sv}s)".
GVariant* generateEventDeclaration(const std::string& topic, const std::string& keySpec,
                                   bool leading);
// Subscribe's filter "(@a{ss}@a{sv}@a{ss}@a{sv})"; the key list may
// be empty.
GVariant* generateEventSubscription(const std::string& topic, const std::string& keySpec);
// A declaration from plain levels ("name" or "name:nice name", namespace
// "tnszeto"), one key and EventFlag bits.
GVariant* declareFlaggedEvent(const std::vector<std::string>& levels, const std::string& keyName,
                              uint32_t flags, int32_t valueType);

// printf into a std::string; throws std::runtime_error("Error during
// formatting.") when the format cannot be rendered.
template <typename... Args> std::string formatString(const char* format, Args... args)
{
    int size = std::snprintf(nullptr, 0, format, args...);
    if (size < 0)
        throw std::runtime_error("Error during formatting.");
    std::string out(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(out.data(), out.size(), format, args...);
    out.resize(static_cast<std::size_t>(size));
    return out;
}

// A text made safe to paste into one topic level: each of "/(){}[]" becomes
// "_" (they would split the level, open a nice name or a tag).
std::string topicSafe(std::string text);

} // namespace quillon
