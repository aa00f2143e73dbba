/* The JSON CGI: one request text in, one HTTP reply out. */
#define _GNU_SOURCE /* memmem */
#include <jansson.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "pavane_private.h"

#define PAVANE_HTTP_HEADER "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n"

/* VERSIONS */

/* Parses "major.minor" (two runs of decimal digits joined by one dot, within
 * int range). */
static gboolean parse_version(const char* text, int* major, int* minor)
{
    int* parts[2] = {major, minor};
    const char* p = text;
    if (p == NULL)
        return FALSE;
    for (int i = 0; i < 2; ++i) {
        if (!g_ascii_isdigit(*p))
            return FALSE;
        long long value = 0;
        while (g_ascii_isdigit(*p)) {
            value = value * 10 + (*p - '0');
            if (value > INT_MAX)
                return FALSE;
            ++p;
        }
        *parts[i] = (int)value;
        if (i == 0 && *p++ != '.')
            return FALSE;
    }
    return *p == '\0';
}

/* Is the requested version served: a supported version with the same major
 * number and at least the requested minor number? */
static int check_version(const char* requested)
{
    char** versions = NULL;
    int count = 0;
    int result = video_output_get_supported_versions(&versions, &count);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    int major, minor;
    if (!parse_version(requested, &major, &minor) || count <= 0 || versions == NULL)
        return VIDEO_OUTPUT_ERROR_API_VERSION;
    for (int i = 0; i < count; ++i) {
        int smajor, sminor;
        if (!parse_version(versions[i], &smajor, &sminor))
            return VIDEO_OUTPUT_ERROR_INTERNAL;
        if (smajor == major && sminor >= minor)
            return VIDEO_OUTPUT_SUCCESS;
    }
    return VIDEO_OUTPUT_ERROR_API_VERSION;
}

/* PARAMETERS */

/* The optional port "id" of `params` into *port (-1 when absent). */
static int read_port(json_t* params, gboolean required, int* port)
{
    *port = -1;
    if (params != NULL && !json_is_object(params))
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    json_t* id = params != NULL ? json_object_get(params, "id") : NULL;
    if (id == NULL)
        return required ? VIDEO_OUTPUT_ERROR_PARAMETER_MISSING : VIDEO_OUTPUT_SUCCESS;
    if (!json_is_integer(id))
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    json_int_t value = json_integer_value(id);
    if (value < INT_MIN || value > INT_MAX)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    *port = (int)value;
    return VIDEO_OUTPUT_SUCCESS;
}

/* A required string member of `params`. */
static int read_text(json_t* params, const char* key, const char** text)
{
    json_t* value = params != NULL ? json_object_get(params, key) : NULL;
    if (value == NULL)
        return VIDEO_OUTPUT_ERROR_PARAMETER_MISSING;
    if (!json_is_string(value))
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    *text = json_string_value(value);
    return VIDEO_OUTPUT_SUCCESS;
}

static json_t* string_array(const char* const* strings, int count)
{
    json_t* array = json_array();
    for (int i = 0; i < count; ++i)
        json_array_append_new(array, json_string(strings[i] != NULL ? strings[i] : ""));
    return array;
}

/* A string of the service, which may be NULL or not valid UTF-8. */
static json_t* service_string(const char* text)
{
    json_t* value = json_string(text != NULL ? text : "");
    return value != NULL ? value : json_string("");
}

/* METHODS: each returns an error enum value and may set *data. */

static int method_get_supported_versions(json_t* params, json_t** data)
{
    (void)params;
    char** versions = NULL;
    int count = 0;
    int result = video_output_get_supported_versions(&versions, &count);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    if (count < 0 || (count > 0 && versions == NULL))
        return VIDEO_OUTPUT_ERROR_INTERNAL;
    *data = json_pack("{s:o}", "apiVersions", string_array((const char* const*)versions, count));
    return VIDEO_OUTPUT_SUCCESS;
}

static int method_get_supported_methods(json_t* params, json_t** data)
{
    (void)params;
    const char** methods = NULL;
    int count = 0;
    int result = video_output_get_supported_methods(&methods, &count);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    *data = json_pack("{s:o}", "methods", string_array(methods, count));
    g_free(methods);
    return VIDEO_OUTPUT_SUCCESS;
}

static int enum_list_method(json_t* params, json_t** data, const char* key,
                            int (*get)(int, const char***, int*))
{
    int port;
    int result = read_port(params, FALSE, &port);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    const char** strings = NULL;
    int count = 0;
    result = get(port, &strings, &count);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    *data = json_pack("{s:o}", key, string_array(strings, count));
    g_free(strings);
    return VIDEO_OUTPUT_SUCCESS;
}

static int method_get_supported_scan_modes(json_t* params, json_t** data)
{
    return enum_list_method(params, data, "scanModes", video_output_get_supported_scan_modes);
}

static int method_get_supported_sdi_codings(json_t* params, json_t** data)
{
    return enum_list_method(params, data, "codings", video_output_get_supported_sdi_codings);
}

static int method_get_outputs(json_t* params, json_t** data)
{
    (void)params;
    VideoOutputPort* ports = NULL;
    int count = 0;
    int result = video_output_get_ports(&ports, &count);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    json_t* outputs = json_array();
    for (int i = 0; i < count; ++i) {
        json_array_append_new(outputs,
                              json_pack("{s:i,s:s,s:o,s:b}", "id", ports[i].id, "type",
                                        ports[i].type, "name", service_string(ports[i].name),
                                        "enabled", ports[i].enabled != 0));
    }
    g_free(ports);
    *data = json_pack("{s:o}", "outputs", outputs);
    return VIDEO_OUTPUT_SUCCESS;
}

static int method_get_enabled_outputs(json_t* params, json_t** data)
{
    (void)params;
    int* ids = NULL;
    int count = 0;
    int result = video_output_get_enabled_ports(&ids, &count);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    if (count < 0 || (count > 0 && ids == NULL))
        return VIDEO_OUTPUT_ERROR_INTERNAL;
    json_t* outputs = json_array();
    for (int i = 0; i < count; ++i)
        json_array_append_new(outputs, json_integer(ids[i]));
    *data = json_pack("{s:o}", "outputs", outputs);
    return VIDEO_OUTPUT_SUCCESS;
}

static int get_text_method(json_t* params, json_t** data, const char* key,
                           int (*get)(int, const char**))
{
    int port;
    int result = read_port(params, FALSE, &port);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    const char* text = NULL;
    result = get(port, &text);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    *data = json_pack("{s:s}", key, text);
    return VIDEO_OUTPUT_SUCCESS;
}

static int method_get_scan_mode(json_t* params, json_t** data)
{
    return get_text_method(params, data, "scanMode", video_output_get_scan_mode);
}

static int method_get_sdi_coding(json_t* params, json_t** data)
{
    return get_text_method(params, data, "coding", video_output_get_sdi_coding);
}

static int set_text_method(json_t* params, const char* key, int (*set)(int, const char*))
{
    if (params == NULL)
        return VIDEO_OUTPUT_ERROR_PARAMETER_MISSING;
    int port;
    int result = read_port(params, FALSE, &port);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    const char* text = NULL;
    result = read_text(params, key, &text);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    return set(port, text);
}

static int method_set_scan_mode(json_t* params, json_t** data)
{
    (void)data;
    return set_text_method(params, "scanMode", video_output_set_scan_mode);
}

static int method_set_sdi_coding(json_t* params, json_t** data)
{
    (void)data;
    return set_text_method(params, "coding", video_output_set_sdi_coding);
}

static int set_port_method(json_t* params, int (*set)(int))
{
    if (params == NULL)
        return VIDEO_OUTPUT_ERROR_PARAMETER_MISSING;
    int port;
    int result = read_port(params, TRUE, &port);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    return set(port);
}

static int method_set_output_enabled(json_t* params, json_t** data)
{
    (void)data;
    return set_port_method(params, video_output_set_port_enabled);
}

static int method_set_output_disabled(json_t* params, json_t** data)
{
    (void)data;
    return set_port_method(params, video_output_set_port_disabled);
}

static int method_switch_enabled_output(json_t* params, json_t** data)
{
    (void)params;
    (void)data;
    return video_output_switch_enabled_port();
}

static int switch_method(json_t* params, int (*do_switch)(int))
{
    int port;
    int result = read_port(params, FALSE, &port);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    return do_switch(port);
}

static int method_switch_scan_mode(json_t* params, json_t** data)
{
    (void)data;
    return switch_method(params, video_output_switch_scan_mode);
}

static int method_switch_sdi_coding(json_t* params, json_t** data)
{
    (void)data;
    return switch_method(params, video_output_switch_sdi_coding);
}

static const struct {
    const char* name;
    int (*run)(json_t* params, json_t** data);
} pavane_methods[] = {
    {"getSupportedVersions", method_get_supported_versions},
    {"getSupportedMethods", method_get_supported_methods},
    {"getSupportedScanModes", method_get_supported_scan_modes},
    {"getSupportedSDICodings", method_get_supported_sdi_codings},
    {"getOutputs", method_get_outputs},
    {"getEnabledOutputs", method_get_enabled_outputs},
    {"getSDICoding", method_get_sdi_coding},
    {"getScanMode", method_get_scan_mode},
    {"setOutputEnabled", method_set_output_enabled},
    {"setOutputDisabled", method_set_output_disabled},
    {"setSDICoding", method_set_sdi_coding},
    {"setScanMode", method_set_scan_mode},
    {"switchEnabledOutput", method_switch_enabled_output},
    {"switchSDICoding", method_switch_sdi_coding},
    {"switchScanMode", method_switch_scan_mode},
};

/* ENVELOPE */

static const char* member_string(json_t* request, const char* key)
{
    return json_string_value(json_object_get(request, key)); /* NULL unless a string */
}

/* Fills `reply` from the parsed request; returns the error enum value. */
static int pavane_answer(json_t* request, json_t* reply)
{
    const char* context = member_string(request, "context");
    const char* method = member_string(request, "method");
    const char* version = member_string(request, "apiVersion");
    json_t* params = json_object_get(request, "params");
    if (json_is_null(params))
        params = NULL;

    if (version != NULL)
        json_object_set_new(reply, "apiVersion", json_string(version));
    if (context != NULL)
        json_object_set_new(reply, "context", json_string(context));
    if (method != NULL)
        json_object_set_new(reply, "method", json_string(method));
    if (method == NULL)
        return VIDEO_OUTPUT_ERROR_PARAMETER_MISSING;

    gboolean versions = strcmp(method, "getSupportedVersions") == 0;
    if (version == NULL && !versions)
        return VIDEO_OUTPUT_ERROR_PARAMETER_MISSING;
    if (version != NULL && !versions) {
        int result = check_version(version);
        if (result != VIDEO_OUTPUT_SUCCESS)
            return result;
    }
    for (size_t i = 0; i < G_N_ELEMENTS(pavane_methods); ++i) {
        if (strcmp(pavane_methods[i].name, method) != 0)
            continue;
        json_t* data = NULL;
        int result = pavane_methods[i].run(params, &data);
        if (result == VIDEO_OUTPUT_SUCCESS && data != NULL)
            json_object_set_new(reply, "data", data);
        else
            json_decref(data);
        return result;
    }
    return VIDEO_OUTPUT_ERROR_METHOD;
}

char* pavane_cgi_handle_request(const char* request, size_t len, size_t* reply_len)
{
    const char* name = memmem(request, len, PAVANE_CGI_NAME, strlen(PAVANE_CGI_NAME));
    if (name == NULL)
        return NULL;
    /* The body follows the name and the relay's one separator byte. */
    size_t start = (size_t)(name - request) + strlen(PAVANE_CGI_NAME) + 1;
    const char* body = request + (start < len ? start : len);
    size_t body_len = start < len ? len - start : 0;

    json_t* reply = json_object();
    json_error_t error;
    json_t* parsed = json_loadb(body, body_len, JSON_DISABLE_EOF_CHECK, &error);
    int result;
    if (parsed == NULL) {
        printf("OOPS, this is not json\n");
        fflush(stdout);
        result = VIDEO_OUTPUT_ERROR_INVALID_JSON;
    } else {
        result = pavane_answer(parsed, reply);
        json_decref(parsed);
    }
    if (result != VIDEO_OUTPUT_SUCCESS) {
        json_object_set_new(reply, "error",
                            json_pack("{s:i,s:s}", "code", video_output_error_enum_to_code(result),
                                      "message", video_output_error_enum_to_string(result)));
    }

    char* json = json_dumps(reply, JSON_INDENT(2));
    json_decref(reply);
    char* text = g_strdup_printf("%s\r\n%s", PAVANE_HTTP_HEADER, json != NULL ? json : "{}");
    free(json);
    *reply_len = strlen(text);
    return text;
}
