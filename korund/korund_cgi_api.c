#include "korund_cgi_api.h"

#include <jansson.h>
#include <string.h>

#include "korund_config.h"

#define PFX ""
#define API_VERSION "1.0"

static const struct {
    int code;
    const char* message;
} errors[] = {
    {KORUND_CGI_INVALID_VALUE, "Invalid parameter value."},
    {KORUND_CGI_NO_MEMORY, "Out of memory."},
    {KORUND_CGI_FORBIDDEN, "Access forbidden (similar to HTTP 403)."},
    {KORUND_CGI_ONLY_POST, "HTTP request type not supported. Only POST supported."},
    {KORUND_CGI_BAD_VERSION, "The requested API version is not supported."},
    {KORUND_CGI_BAD_METHOD, "Method not supported."},
    {KORUND_CGI_INVALID_JSON, "The provided JSON input was invalid."},
    {KORUND_CGI_MISSING, "A mandatory input parameter was not found in the input."},
    {KORUND_CGI_WRONG_TYPE, "The type of a provided JSON parameter was incorrect."},
    {KORUND_CGI_INTERNAL, "Internal error, could not complete request."},
};

const char* korund_cgi_error_message(int code)
{
    for (gsize i = 0; i < G_N_ELEMENTS(errors); i++)
        if (errors[i].code == code)
            return errors[i].message;
    return "";
}

/* GET METHODS */

static json_t* get_supported_versions(void)
{
    return json_pack("{s:[s]}", "apiVersions", API_VERSION);
}

static json_t* get_enabled(void)
{
    return json_pack("{s:b}", "enabled", korund_config.enabled);
}

static json_t* get_supported_interfaces(void)
{
    json_t* list = json_pack("[s]", "none");
    if (korund_config.has_ip)
        json_array_append_new(list, json_string("viscaOverIP"));
    if (korund_config.has_serial)
        json_array_append_new(list, json_string("viscaOverSerial"));
    return json_pack("{s:o}", "interfaces", list);
}

static json_t* get_active_interface(void)
{
    return json_pack("{s:s}", "interface", korund_interface_name(korund_config.interface));
}

static json_t* get_serial_configuration(void)
{
    return json_pack("{s:s,s:i}", "serialConfiguration",
                     korund_serial_configuration_name(korund_config.serial_configuration),
                     "baudRate", korund_config.baud_rate);
}

/* SET METHODS: each returns 0 or an error code. */

static int saved(int result)
{
    return result == 0 ? 0 : KORUND_CGI_INTERNAL;
}

static int set_enabled(json_t* params)
{
    if (json_object_size(params) > 1)
        return KORUND_CGI_INVALID_JSON;
    json_t* enabled = json_object_get(params, "enabled");
    if (enabled == NULL)
        return KORUND_CGI_MISSING;
    if (!json_is_boolean(enabled))
        return KORUND_CGI_WRONG_TYPE;
    return saved(korund_config_set_enabled(json_is_true(enabled)));
}

static int set_active_interface(json_t* params)
{
    if (json_object_size(params) > 1)
        return KORUND_CGI_INVALID_JSON;
    json_t* value = json_object_get(params, "interface");
    if (value == NULL)
        return KORUND_CGI_MISSING;
    if (!json_is_string(value))
        return KORUND_CGI_WRONG_TYPE;
    KorundInterface interface = korund_interface_from_name(json_string_value(value));
    if (interface == 0 || (interface == KORUND_INTERFACE_IP && !korund_config.has_ip) ||
        (interface == KORUND_INTERFACE_SERIAL && !korund_config.has_serial))
        return KORUND_CGI_INVALID_VALUE;
    return saved(korund_config_set_interface(interface));
}

static int set_serial_configuration(json_t* params)
{
    if (json_object_size(params) > 2)
        return KORUND_CGI_INVALID_JSON;
    json_t* conf_value = json_object_get(params, "serialConfiguration");
    json_t* baud_value = json_object_get(params, "baudRate");
    if (conf_value == NULL && baud_value == NULL)
        return KORUND_CGI_MISSING;

    /* Both members are checked before either is applied. */
    KorundSerialConfiguration conf = 0;
    json_int_t baud = 0;
    if (conf_value != NULL) {
        if (!json_is_string(conf_value))
            return KORUND_CGI_WRONG_TYPE;
        conf = korund_serial_configuration_from_name(json_string_value(conf_value));
        if (conf == 0)
            return KORUND_CGI_INVALID_VALUE;
    }
    if (baud_value != NULL) {
        if (!json_is_integer(baud_value))
            return KORUND_CGI_WRONG_TYPE;
        baud = json_integer_value(baud_value);
        if (baud != 9600 && baud != 38400)
            return KORUND_CGI_INVALID_VALUE;
    }
    if (conf != 0 && korund_config_set_serial_configuration(conf) != 0)
        return KORUND_CGI_INTERNAL;
    if (baud != 0 && korund_config_set_baud_rate((int)baud) != 0)
        return KORUND_CGI_INTERNAL;
    return 0;
}

/* DISPATCH */

typedef struct {
    const char* name;
    json_t* (*get)(void);
    int (*set)(json_t* params);
} Method;

static const Method methods[] = {
    {"getEnabled", get_enabled, NULL},
    {"getSupportedInterfaces", get_supported_interfaces, NULL},
    {"getActiveInterface", get_active_interface, NULL},
    {"getSerialConfiguration", get_serial_configuration, NULL},
    {"setEnabled", NULL, set_enabled},
    {"setActiveInterface", NULL, set_active_interface},
    {"setSerialConfiguration", NULL, set_serial_configuration},
};

static void set_error(json_t* reply, int code)
{
    json_object_set_new(
        reply, "error",
        json_pack("{s:i,s:s}", "code", code, "message", korund_cgi_error_message(code)));
}

/* Fills `reply` with "data" or "error" for the parsed request. */
static void dispatch(json_t* request, json_t* reply)
{
    json_t* method = json_object_get(request, "method");
    const char* name = json_string_value(method);

    if (name != NULL && strcmp(name, "getSupportedVersions") == 0) {
        json_object_set_new(reply, "data", get_supported_versions());
        return;
    }
    if (name == NULL) {
        set_error(reply, KORUND_CGI_MISSING);
        return;
    }
    const char* version = json_string_value(json_object_get(request, "apiVersion"));
    if (version == NULL) {
        set_error(reply, KORUND_CGI_MISSING);
        return;
    }
    if (strcmp(version, API_VERSION) != 0) {
        set_error(reply, KORUND_CGI_BAD_VERSION);
        return;
    }
    for (gsize i = 0; i < G_N_ELEMENTS(methods); i++) {
        if (methods[i].get != NULL && strcmp(name, methods[i].name) == 0) {
            json_object_set_new(reply, "data", methods[i].get());
            return;
        }
    }
    json_t* params = json_object_get(request, "params");
    if (params == NULL) {
        g_info("%smandatory parameter params is missing", PFX);
        set_error(reply, KORUND_CGI_MISSING);
        return;
    }
    for (gsize i = 0; i < G_N_ELEMENTS(methods); i++) {
        if (methods[i].set != NULL && strcmp(name, methods[i].name) == 0) {
            int code = json_is_object(params) ? methods[i].set(params) : KORUND_CGI_WRONG_TYPE;
            if (code != 0)
                set_error(reply, code);
            else
                json_object_set_new(reply, "data", json_object());
            return;
        }
    }
    set_error(reply, KORUND_CGI_BAD_METHOD);
}

char* korund_cgi_handle_json(const char* body, gsize len)
{
    json_t* reply = json_object();
    json_error_t error;
    json_t* request = json_loadb(body, len, 0, &error);

    if (request == NULL || !json_is_object(request)) {
        set_error(reply, KORUND_CGI_INVALID_JSON);
    } else {
        json_t* method = json_object_get(request, "method");
        json_t* context = json_object_get(request, "context");
        json_t* version = json_object_get(request, "apiVersion");
        if (method != NULL)
            json_object_set(reply, "method", method);
        if (json_is_string(context))
            json_object_set(reply, "context", context);
        if (json_is_string(version))
            json_object_set(reply, "apiVersion", version);
        dispatch(request, reply);
    }
    json_decref(request);
    char* text = json_dumps(reply, JSON_INDENT(2));
    json_decref(reply);
    return text;
}

const char* korund_cgi_find_body(const char* request, gsize len, gsize* body_len)
{
    const gsize name_len = strlen(KORUND_CGI_NAME);
    const char* name = NULL;

    for (gsize i = 0; i + name_len <= len; i++) {
        if (memcmp(request + i, KORUND_CGI_NAME, name_len) == 0) {
            name = request + i;
            break;
        }
    }
    if (name == NULL)
        return NULL;
    /* The separator after the name may be missing when the body is empty. */
    gsize start = (gsize)(name - request) + name_len + 1;
    if (start > len)
        start = len;
    *body_len = len - start;
    return request + start;
}

#define HTTP_HEAD "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n"

char* korund_cgi_answer(const char* request, gsize len)
{
    gsize body_len = 0;
    const char* body = korund_cgi_find_body(request, len, &body_len);

    if (body == NULL)
        return NULL;
    char* json = korund_cgi_handle_json(body, body_len);
    char* answer = g_strconcat(HTTP_HEAD "\r\n", json ? json : "{}", NULL);
    free(json);
    return answer;
}
