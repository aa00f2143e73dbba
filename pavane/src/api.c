/* Life cycle and the port operations over the service's callback table. */
#include <zolog.h>

#include "pavane_private.h"

const VideoOutputFunctions* functions = NULL;

/* LIFE CYCLE */

static void enable_method(const char* name)
{
    for (VideoOutputJsonMethod* m = json_methods; m->name != NULL; ++m) {
        if (g_strcmp0(m->name, name) == 0) {
            m->enabled = 1;
            return;
        }
    }
}

int pavane_api_set_table(const VideoOutputFunctions* table)
{
    if (table == NULL || table->get_supported_versions == NULL || table->get_ports == NULL)
        return 1;

    /* Start from the always-available methods so that a second init with a
     * smaller table does not keep methods of the first one. */
    for (VideoOutputJsonMethod* m = json_methods; m->name != NULL; ++m)
        m->enabled = 0;
    enable_method("getSupportedVersions");
    enable_method("getSupportedMethods");
    enable_method("getOutputs");

    const struct {
        gboolean present;
        const char* method;
    } optional[] = {
        {table->get_supported_scan_modes != NULL, "getSupportedScanModes"},
        {table->get_supported_sdi_codings != NULL, "getSupportedSDICodings"},
        {table->get_enabled_ports != NULL, "getEnabledOutputs"},
        {table->get_sdi_coding != NULL, "getSDICoding"},
        {table->get_scan_mode != NULL, "getScanMode"},
        {table->set_port_enabled != NULL, "setOutputEnabled"},
        {table->set_port_disabled != NULL, "setOutputDisabled"},
        {table->set_sdi_coding != NULL, "setSDICoding"},
        {table->set_scan_mode != NULL, "setScanMode"},
        {table->switch_enabled_port != NULL, "switchEnabledOutput"},
        {table->switch_sdi_coding != NULL, "switchSDICoding"},
        {table->switch_scan_mode != NULL, "switchScanMode"},
    };
    for (size_t i = 0; i < G_N_ELEMENTS(optional); ++i) {
        if (optional[i].present)
            enable_method(optional[i].method);
    }
    functions = table;
    return 0;
}

int video_output_api_init(const VideoOutputFunctions* table)
{
    zo_log_syslog(NULL);
    if (pavane_api_set_table(table) != 0)
        return 1;
    return video_output_cgi_init();
}

int video_output_api_free(void)
{
    video_output_cgi_free();
    /* The service may release its table once this returns. */
    functions = NULL;
    return 0;
}

/* PORT OPERATIONS */

/* The service's callback in `slot`, or NULL when there is no table. */
#define CALLBACK(slot) (functions != NULL ? functions->slot : NULL)

/* An array the service returned must be there when it has entries. */
static gboolean array_ok(const void* array, int count)
{
    return count >= 0 && (count == 0 || array != NULL);
}

int video_output_get_supported_versions(char*** versions, int* count)
{
    if (CALLBACK(get_supported_versions) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    return functions->get_supported_versions(versions, count);
}

/* Turns the service's enum list into a g_malloc0 array of table strings. */
static int enum_list_to_strings(const int* values, int n, const char* (*to_string)(int),
                                const char*** strings, int* count)
{
    if (!array_ok(values, n))
        return VIDEO_OUTPUT_ERROR_INTERNAL;
    const char** result = g_malloc0_n((gsize)n + 1, sizeof(*result));
    for (int i = 0; i < n; ++i) {
        result[i] = to_string(values[i]);
        if (result[i] == NULL) {
            g_free(result);
            return VIDEO_OUTPUT_ERROR_INTERNAL;
        }
    }
    *strings = result;
    *count = n;
    return VIDEO_OUTPUT_SUCCESS;
}

int video_output_get_supported_scan_modes(int port, const char*** modes, int* count)
{
    if (CALLBACK(get_supported_scan_modes) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    int* values = NULL;
    int n = 0;
    int result = functions->get_supported_scan_modes(port, &values, &n);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    return enum_list_to_strings(values, n, video_output_scan_mode_enum_to_string, modes, count);
}

int video_output_get_supported_sdi_codings(int port, const char*** codings, int* count)
{
    if (CALLBACK(get_supported_sdi_codings) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    int* values = NULL;
    int n = 0;
    int result = functions->get_supported_sdi_codings(port, &values, &n);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    return enum_list_to_strings(values, n, video_output_sdi_coding_enum_to_string, codings, count);
}

int video_output_get_ports(VideoOutputPort** ports, int* count)
{
    if (CALLBACK(get_ports) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    VideoOutputServicePort* service = NULL;
    int n = 0;
    int result = functions->get_ports(&service, &n);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    if (!array_ok(service, n))
        return VIDEO_OUTPUT_ERROR_INTERNAL;

    VideoOutputPort* copy = g_malloc0_n(n > 0 ? (gsize)n : 1, sizeof(*copy));
    for (int i = 0; i < n; ++i) {
        copy[i].id = service[i].id;
        copy[i].type = video_output_port_enum_to_string(service[i].type);
        copy[i].name = service[i].name;
        copy[i].enabled = service[i].enabled;
        if (copy[i].type == NULL) {
            g_free(copy);
            return VIDEO_OUTPUT_ERROR_INTERNAL;
        }
    }
    *ports = copy;
    *count = n;
    return VIDEO_OUTPUT_SUCCESS;
}

int video_output_get_enabled_ports(int** ids, int* count)
{
    if (CALLBACK(get_enabled_ports) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    return functions->get_enabled_ports(ids, count);
}

int video_output_get_sdi_coding(int port, const char** coding)
{
    if (CALLBACK(get_sdi_coding) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    int value = -1;
    int result = functions->get_sdi_coding(port, &value);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    const char* text = video_output_sdi_coding_enum_to_string(value);
    if (text == NULL)
        return VIDEO_OUTPUT_ERROR_INTERNAL;
    *coding = text;
    return VIDEO_OUTPUT_SUCCESS;
}

int video_output_get_scan_mode(int port, const char** mode)
{
    if (CALLBACK(get_scan_mode) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    int value = -1;
    int result = functions->get_scan_mode(port, &value);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    const char* text = video_output_scan_mode_enum_to_string(value);
    if (text == NULL)
        return VIDEO_OUTPUT_ERROR_INTERNAL;
    *mode = text;
    return VIDEO_OUTPUT_SUCCESS;
}

int video_output_set_port_enabled(int port)
{
    if (CALLBACK(set_port_enabled) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    return functions->set_port_enabled(port);
}

int video_output_set_port_disabled(int port)
{
    if (CALLBACK(set_port_disabled) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    return functions->set_port_disabled(port);
}

int video_output_set_sdi_coding(int port, const char* coding)
{
    if (CALLBACK(set_sdi_coding) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    return functions->set_sdi_coding(port, video_output_sdi_coding_string_to_enum(coding));
}

int video_output_set_scan_mode(int port, const char* mode)
{
    if (CALLBACK(set_scan_mode) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    return functions->set_scan_mode(port, video_output_scan_mode_string_to_enum(mode));
}

int video_output_switch_enabled_port(void)
{
    if (CALLBACK(switch_enabled_port) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    return functions->switch_enabled_port();
}

int video_output_switch_sdi_coding(int port)
{
    if (CALLBACK(switch_sdi_coding) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    return functions->switch_sdi_coding(port);
}

int video_output_switch_scan_mode(int port)
{
    if (CALLBACK(switch_scan_mode) == NULL)
        return VIDEO_OUTPUT_ERROR_METHOD;
    return functions->switch_scan_mode(port);
}

int video_output_get_supported_methods(const char*** methods, int* count)
{
    int n = 0;
    for (const VideoOutputJsonMethod* m = json_methods; m->name != NULL; ++m)
        n += m->enabled ? 1 : 0;
    const char** names = g_malloc0_n((gsize)n + 1, sizeof(*names));
    int i = 0;
    for (const VideoOutputJsonMethod* m = json_methods; m->name != NULL; ++m) {
        if (m->enabled)
            names[i++] = m->name;
    }
    *methods = names;
    *count = n;
    return VIDEO_OUTPUT_SUCCESS;
}
