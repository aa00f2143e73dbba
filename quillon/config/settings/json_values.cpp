#include "quillon/config/settings/json_values.h"

#include <string.h>

#include <limits>

namespace quillon::json
{

bool hasKey(json_object* object, const char* key)
{
    return object != nullptr && json_object_is_type(object, json_type_object) &&
           json_object_object_get_ex(object, key, nullptr);
}

json_object* member(json_object* object, const char* key)
{
    json_object* value = nullptr;
    if (object == nullptr || !json_object_is_type(object, json_type_object))
        return nullptr;
    if (!json_object_object_get_ex(object, key, &value))
        return nullptr;
    return value;
}

namespace
{

json_object* typedMember(json_object* object, const char* key, json_type type)
{
    json_object* value = member(object, key);
    return value != nullptr && json_object_is_type(value, type) ? value : nullptr;
}

} // namespace

json_object* objectMember(json_object* object, const char* key)
{
    return typedMember(object, key, json_type_object);
}

json_object* arrayMember(json_object* object, const char* key)
{
    return typedMember(object, key, json_type_array);
}

std::optional<bool> boolMember(json_object* object, const char* key)
{
    json_object* value = typedMember(object, key, json_type_boolean);
    if (value == nullptr)
        return std::nullopt;
    return json_object_get_boolean(value) != 0;
}

std::optional<int64_t> intMember(json_object* object, const char* key)
{
    json_object* value = typedMember(object, key, json_type_int);
    if (value == nullptr)
        return std::nullopt;
    return json_object_get_int64(value);
}

std::optional<double> doubleMember(json_object* object, const char* key)
{
    json_object* value = typedMember(object, key, json_type_double);
    if (value == nullptr)
        return std::nullopt;
    return json_object_get_double(value);
}

std::optional<std::string> stringMember(json_object* object, const char* key)
{
    json_object* value = typedMember(object, key, json_type_string);
    if (value == nullptr)
        return std::nullopt;
    return std::string(json_object_get_string(value), json_object_get_string_len(value));
}

int clampToInt(int64_t value)
{
    if (value > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

JsonPtr parseLeading(std::string_view text, bool* trailing)
{
    if (trailing != nullptr)
        *trailing = false;
    if (text.size() > static_cast<size_t>(std::numeric_limits<int>::max() - 1))
        return nullptr;
    json_tokener* tokener = json_tokener_new();
    if (tokener == nullptr)
        return nullptr;
    // The terminating NUL is handed to the tokener as well (as json-c does
    // for C strings) so that a bare number at the end of the text completes.
    std::string copy(text);
    JsonPtr value(json_tokener_parse_ex(tokener, copy.c_str(), static_cast<int>(copy.size()) + 1));
    bool ok = json_tokener_get_error(tokener) == json_tokener_success;
    size_t used = json_tokener_get_parse_end(tokener);
    json_tokener_free(tokener);
    if (!ok || value == nullptr)
        return nullptr;
    if (trailing != nullptr) {
        for (size_t i = used; i < copy.size(); ++i) {
            if (strchr(" \t\r\n", copy[i]) == nullptr) {
                *trailing = true;
                break;
            }
        }
    }
    return value;
}

JsonPtr parse(std::string_view text)
{
    bool trailing = false;
    JsonPtr value = parseLeading(text, &trailing);
    return trailing ? nullptr : std::move(value);
}

} // namespace quillon::json
