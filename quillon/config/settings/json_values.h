#pragma once

#include <json-c/json.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillon::json
{

// Typed reads of one member of a JSON object. A member of the wrong json-c
// type counts as absent: an integer literal is not a double and a number
// with a fraction is not an int. A non-object `object` has no members.

// True when `key` is a member of `object`, whatever its value (null too).
bool hasKey(json_object* object, const char* key);
json_object* member(json_object* object, const char* key);
json_object* objectMember(json_object* object, const char* key);
json_object* arrayMember(json_object* object, const char* key);
std::optional<bool> boolMember(json_object* object, const char* key);
// The full 64-bit value, so that range checks see what the caller sent.
std::optional<int64_t> intMember(json_object* object, const char* key);
std::optional<double> doubleMember(json_object* object, const char* key);
std::optional<std::string> stringMember(json_object* object, const char* key);

// An int64 value clamped into the range of int (for values with no range of
// their own).
int clampToInt(int64_t value);

// Owning handle for a json_object reference.
struct JsonPut {
    void operator()(json_object* object) const { json_object_put(object); }
};
using JsonPtr = std::unique_ptr<json_object, JsonPut>;

// Parses one JSON text with the json-c tokener. Text after the value other
// than white space, and any parse error, give null. For API bodies.
JsonPtr parse(std::string_view text);

// Parses the JSON value at the start of `text` (settings files): text after
// it is not part of the value; `trailing` (when given) tells whether any
// other than white space follows. A parse error of that value gives null.
JsonPtr parseLeading(std::string_view text, bool* trailing = nullptr);

} // namespace quillon::json
