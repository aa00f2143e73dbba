/* Exported tables and the conversions between enum values and strings. */
#include <string.h>

#include "pavane_private.h"

const char* const port_types[] = {"HDMI", "SDI", NULL};
const char* const scan_modes[] = {"progressive", "interlaced", NULL};
const char* const sdi_codings[] = {"level-A", "level-B", NULL};

const VideoOutputErrorEntry video_output_errors[] = {
    {0, "Success"},
    {1100, "Internal error"},
    {2100, "API version not supported"},
    {2101, "Invalid JSON"},
    {2102, "Method not supported"},
    {2103, "Required parameter missing"},
    {2104, "Invalid parameter value specified"},
    {2105, "Authorization failed"},
    {2201, "Provided output does not support this feature"},
    {2202, "Individual output control not supported"},
};

VideoOutputJsonMethod json_methods[] = {
    {"getSupportedVersions", 1, 1},
    {"getSupportedMethods", 1, 1},
    {"getSupportedScanModes", 0, 0},
    {"getSupportedSDICodings", 0, 0},
    {"getOutputs", 1, 1},
    {"getEnabledOutputs", 0, 0},
    {"getSDICoding", 0, 0},
    {"getScanMode", 0, 0},
    {"setOutputEnabled", 0, 0},
    {"setOutputDisabled", 0, 0},
    {"setSDICoding", 0, 0},
    {"setScanMode", 0, 0},
    {"switchEnabledOutput", 0, 0},
    {"switchSDICoding", 0, 0},
    {"switchScanMode", 0, 0},
    {NULL, 0, 0},
};

/* ERRORS */

static int error_row(int error)
{
    int rows = (int)G_N_ELEMENTS(video_output_errors);
    /* Success has no reply of its own: anything outside 1..9 is internal. */
    return error >= 1 && error < rows ? error : VIDEO_OUTPUT_ERROR_INTERNAL;
}

int video_output_error_enum_to_code(int error)
{
    return video_output_errors[error_row(error)].code;
}

const char* video_output_error_enum_to_string(int error)
{
    return video_output_errors[error_row(error)].message;
}

/* TWO-VALUE TABLES */

static const char* enum_to_string(const char* const* table, int value)
{
    return value == 0 || value == 1 ? table[value] : NULL;
}

static int string_to_enum(const char* const* table, const char* text)
{
    if (text == NULL)
        return 2;
    for (int i = 0; i < 2; ++i) {
        if (strcmp(table[i], text) == 0)
            return i;
    }
    return 2;
}

const char* video_output_port_enum_to_string(int port)
{
    return enum_to_string(port_types, port);
}

const char* video_output_scan_mode_enum_to_string(int mode)
{
    return enum_to_string(scan_modes, mode);
}

const char* video_output_sdi_coding_enum_to_string(int coding)
{
    return enum_to_string(sdi_codings, coding);
}

int video_output_port_string_to_enum(const char* port)
{
    return string_to_enum(port_types, port);
}

int video_output_scan_mode_string_to_enum(const char* mode)
{
    return string_to_enum(scan_modes, mode);
}

int video_output_sdi_coding_string_to_enum(const char* coding)
{
    return string_to_enum(sdi_codings, coding);
}
