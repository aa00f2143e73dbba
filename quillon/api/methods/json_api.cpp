#include "quillon/api/methods/json_api.h"

#include "quillon/api/methods/api_errors.h"
#include "quillon/config/settings/json_values.h"
#include "quillon/core/log.h"

namespace quillon
{

namespace
{

json_object* errorObject(int code)
{
    json_object* error = json_object_new_object();
    json_object_object_add(error, "code", json_object_new_int(code));
    return error;
}

// Dispatches one request object. Returns the code and sets `*reply` to the
// reply envelope, or leaves it null when the request was too malformed to
// answer with an envelope (1002, 1004).
int dispatch(const MethodTable& methods, json_object* request, int level, json_object** reply)
{
    *reply = nullptr;
    auto method = json::stringMember(request, "method");
    if (!method)
        return kApiNoMethod;
    auto context = json::stringMember(request, "context");
    auto apiVersion = json::stringMember(request, "apiVersion");
    json_object* params = json::objectMember(request, "params");
    if (params == nullptr)
        return kApiNoParams;

    json::JsonPtr envelope(json_object_new_object());
    auto addString = [&](const char* key, const std::string& value) {
        json_object_object_add(
            envelope.get(), key,
            json_object_new_string_len(value.data(), static_cast<int>(value.size())));
    };
    if (context)
        addString("context", *context);
    if (apiVersion)
        addString("apiVersion", *apiVersion);
    addString("method", *method);

    int code = kApiMethodRefused;
    const MethodEntry* entry = methods.find(*method);
    if (entry != nullptr && entry->handler && level >= entry->minLevel) {
        json_object* result = nullptr;
        code = entry->handler(params, &result);
        json::JsonPtr owned(result);
        if (code == 0) {
            json_object_object_add(envelope.get(), "data",
                                   owned ? owned.release() : json_object_new_object());
        } else {
            json_object_object_add(envelope.get(), "error", errorObject(code));
        }
    } else {
        json_object_object_add(envelope.get(), "error", errorObject(code));
    }
    *reply = envelope.release();
    return code;
}

json_object* replyFor(const MethodTable& methods, json_object* request, int level)
{
    json_object* reply = nullptr;
    int code = dispatch(methods, request, level, &reply);
    if (reply != nullptr)
        return reply;
    reply = json_object_new_object();
    json_object_object_add(reply, "error", errorObject(code));
    return reply;
}

} // namespace

JsonApi::JsonApi()
{
    addApiMethods(methods_);
}

std::string JsonApi::process(std::string_view body, int level) const
{
    // The endpoint cuts the body at the first NUL byte; so does a direct call.
    body = body.substr(0, body.find('\0'));
    json::JsonPtr root = json::parse(body);
    std::string bodyText(body);
    quillonLog(LOG_INFO, "CGI-in:%d:[%s]\n", level, bodyText.c_str());

    json::JsonPtr reply;
    if (root != nullptr && json_object_is_type(root.get(), json_type_object)) {
        reply.reset(replyFor(methods_, root.get(), level));
    } else if (root != nullptr && json_object_is_type(root.get(), json_type_array)) {
        reply.reset(json_object_new_array());
        size_t count = json_object_array_length(root.get());
        for (size_t i = 0; i < count; ++i) {
            json_object* request = json_object_array_get_idx(root.get(), i);
            if (request == nullptr)
                continue; // null elements are skipped
            json_object_array_add(reply.get(), replyFor(methods_, request, level));
        }
    } else {
        reply.reset(json_object_new_object());
        json_object_object_add(reply.get(), "error", errorObject(kApiNotJson));
    }

    if (json_c_set_serialization_double_format("%.3g", JSON_C_OPTION_THREAD) != 0)
        quillonLog(LOG_WARNING, "json_c_set_serialization_double_format() failed\n");
    const char* text = json_object_to_json_string(reply.get());
    std::string out = text != nullptr ? text : "";
    // json-c keeps the per-thread format in a heap copy; release it.
    json_c_set_serialization_double_format(nullptr, JSON_C_OPTION_THREAD);
    quillonLog(LOG_INFO, "CGI-out:[%s]\n", out.c_str());
    return out;
}

} // namespace quillon
