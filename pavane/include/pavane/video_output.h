#pragma once

/*
 * libpavane: control of the camera's video outputs (HDMI and SDI ports).
 *
 * The service that links the library supplies the port operations as a
 * VideoOutputFunctions table; the library wraps them in this C API with
 * string conversions and serves them as the JSON CGI "videooutput2.cgi" on
 * the transfer socket "/run/pavane/transfer" (under $CAMROOT when set).
 * The library keeps no port state of its own.
 *
 * Threading: the CGI is served from the service's default GLib main context;
 * callbacks run on that thread. The API functions may be called directly by
 * the service.
 */

#include <glib.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VIDEO_OUTPUT_EXPORT __attribute__((visibility("default")))

/* Results of every API function and every service callback. The enum value
 * indexes video_output_errors. */
typedef enum {
    VIDEO_OUTPUT_SUCCESS = 0,
    VIDEO_OUTPUT_ERROR_INTERNAL = 1,           /* 1100 */
    VIDEO_OUTPUT_ERROR_API_VERSION = 2,        /* 2100 */
    VIDEO_OUTPUT_ERROR_INVALID_JSON = 3,       /* 2101 */
    VIDEO_OUTPUT_ERROR_METHOD = 4,             /* 2102 */
    VIDEO_OUTPUT_ERROR_PARAMETER_MISSING = 5,  /* 2103 */
    VIDEO_OUTPUT_ERROR_PARAMETER_VALUE = 6,    /* 2104 */
    VIDEO_OUTPUT_ERROR_AUTHORIZATION = 7,      /* 2105 */
    VIDEO_OUTPUT_ERROR_FEATURE = 8,            /* 2201 */
    VIDEO_OUTPUT_ERROR_INDIVIDUAL_CONTROL = 9, /* 2202 */
} VideoOutputError;

/* Port types: index into port_types. */
typedef enum {
    VIDEO_OUTPUT_PORT_HDMI = 0,
    VIDEO_OUTPUT_PORT_SDI = 1,
    VIDEO_OUTPUT_PORT_UNKNOWN = 2,
} VideoOutputPortType;

/* Scan modes: index into scan_modes. */
typedef enum {
    VIDEO_OUTPUT_SCAN_MODE_PROGRESSIVE = 0,
    VIDEO_OUTPUT_SCAN_MODE_INTERLACED = 1,
    VIDEO_OUTPUT_SCAN_MODE_UNKNOWN = 2,
} VideoOutputScanMode;

/* SDI codings: index into sdi_codings. */
typedef enum {
    VIDEO_OUTPUT_SDI_CODING_LEVEL_A = 0,
    VIDEO_OUTPUT_SDI_CODING_LEVEL_B = 1,
    VIDEO_OUTPUT_SDI_CODING_UNKNOWN = 2,
} VideoOutputSdiCoding;

/* A port as the service reports it. */
typedef struct {
    int id;
    int type; /* VideoOutputPortType */
    char* name;
    int enabled; /* 0 or 1 */
} VideoOutputServicePort;

/* A port as the API returns it: the type as its string. */
typedef struct {
    int id;
    const char* type; /* "HDMI" or "SDI" */
    char* name;       /* the service's string */
    int enabled;
} VideoOutputPort;

/* A code and message pair of video_output_errors. */
typedef struct {
    int code;
    const char* message;
} VideoOutputErrorEntry;

/* An entry of json_methods. */
typedef struct {
    const char* name;
    int fixed;   /* 1 for the methods that are always available */
    int enabled; /* set by video_output_api_init */
} VideoOutputJsonMethod;

/*
 * Port operations supplied by the service (slot order fixed). A port of -1
 * means that the request named no port. Every callback returns a
 * VideoOutputError value; arrays returned through the pointers stay owned by
 * the service (the library never frees them). get_supported_versions and
 * get_ports are mandatory; every other slot may be NULL, which disables its
 * JSON method.
 */
typedef struct {
    int (*get_supported_versions)(char*** versions, int* count); /* "major.minor" */
    int (*get_supported_scan_modes)(int port, int** modes, int* count);
    int (*get_supported_sdi_codings)(int port, int** codings, int* count);
    int (*get_ports)(VideoOutputServicePort** ports, int* count);
    int (*get_enabled_ports)(int** ids, int* count);
    int (*get_sdi_coding)(int port, int* coding);
    int (*get_scan_mode)(int port, int* mode);
    int (*set_port_enabled)(int port);
    int (*set_port_disabled)(int port);
    int (*set_sdi_coding)(int port, int coding);
    int (*set_scan_mode)(int port, int mode);
    int (*switch_enabled_port)(void);
    int (*switch_sdi_coding)(int port);
    int (*switch_scan_mode)(int port);
} VideoOutputFunctions;

/* EXPORTED TABLES AND STATE */

/* "HDMI", "SDI", NULL */
VIDEO_OUTPUT_EXPORT extern const char* const port_types[];
/* "progressive", "interlaced", NULL */
VIDEO_OUTPUT_EXPORT extern const char* const scan_modes[];
/* "level-A", "level-B", NULL */
VIDEO_OUTPUT_EXPORT extern const char* const sdi_codings[];
/* Indexed by VideoOutputError (10 entries). */
VIDEO_OUTPUT_EXPORT extern const VideoOutputErrorEntry video_output_errors[];
/* The 15 JSON methods in fixed order, then an entry with a NULL name. */
VIDEO_OUTPUT_EXPORT extern VideoOutputJsonMethod json_methods[];
/* The service's table (NULL before video_output_api_init). */
VIDEO_OUTPUT_EXPORT extern const VideoOutputFunctions* functions;
/* The listening transfer socket (NULL when not set up). */
VIDEO_OUTPUT_EXPORT extern GIOChannel* transfer_socket;

/* CONVERSIONS */

/* Code and message of an error; 0 and unknown values give 1100
 * "Internal error". */
VIDEO_OUTPUT_EXPORT int video_output_error_enum_to_code(int error);
VIDEO_OUTPUT_EXPORT const char* video_output_error_enum_to_string(int error);
/* The table string for 0 and 1, NULL otherwise. */
VIDEO_OUTPUT_EXPORT const char* video_output_port_enum_to_string(int port);
VIDEO_OUTPUT_EXPORT const char* video_output_scan_mode_enum_to_string(int mode);
VIDEO_OUTPUT_EXPORT const char* video_output_sdi_coding_enum_to_string(int coding);
/* 0 or 1 for an exact table string, 2 for anything else (NULL included). */
VIDEO_OUTPUT_EXPORT int video_output_port_string_to_enum(const char* port);
VIDEO_OUTPUT_EXPORT int video_output_scan_mode_string_to_enum(const char* mode);
VIDEO_OUTPUT_EXPORT int video_output_sdi_coding_string_to_enum(const char* coding);

/* LIFE CYCLE */

/*
 * Sets up syslog output, enables the JSON methods whose callbacks `table`
 * has, keeps `table` (it must stay valid until video_output_api_free) and
 * opens the transfer socket. Returns 0, or 1 when a mandatory callback is
 * missing or the socket cannot be set up. Call on the thread that runs the
 * default GLib main context.
 */
VIDEO_OUTPUT_EXPORT int video_output_api_init(const VideoOutputFunctions* table);
/* Closes the transfer socket; returns 0. */
VIDEO_OUTPUT_EXPORT int video_output_api_free(void);
/* Takes the socket passed by the service manager or creates it; 0 or 1. */
VIDEO_OUTPUT_EXPORT int video_output_cgi_init(void);
VIDEO_OUTPUT_EXPORT void video_output_cgi_free(void);

/* PORT OPERATIONS (VIDEO_OUTPUT_ERROR_METHOD when the callback is absent) */

VIDEO_OUTPUT_EXPORT int video_output_get_supported_versions(char*** versions, int* count);
/* Array of `count` library strings; free the array with g_free. */
VIDEO_OUTPUT_EXPORT int video_output_get_supported_scan_modes(int port, const char*** modes,
                                                              int* count);
VIDEO_OUTPUT_EXPORT int video_output_get_supported_sdi_codings(int port, const char*** codings,
                                                               int* count);
/* Array of `count` records; free the array with g_free. */
VIDEO_OUTPUT_EXPORT int video_output_get_ports(VideoOutputPort** ports, int* count);
VIDEO_OUTPUT_EXPORT int video_output_get_enabled_ports(int** ids, int* count);
VIDEO_OUTPUT_EXPORT int video_output_get_sdi_coding(int port, const char** coding);
VIDEO_OUTPUT_EXPORT int video_output_get_scan_mode(int port, const char** mode);
VIDEO_OUTPUT_EXPORT int video_output_set_port_enabled(int port);
VIDEO_OUTPUT_EXPORT int video_output_set_port_disabled(int port);
VIDEO_OUTPUT_EXPORT int video_output_set_sdi_coding(int port, const char* coding);
VIDEO_OUTPUT_EXPORT int video_output_set_scan_mode(int port, const char* mode);
VIDEO_OUTPUT_EXPORT int video_output_switch_enabled_port(void);
VIDEO_OUTPUT_EXPORT int video_output_switch_sdi_coding(int port);
VIDEO_OUTPUT_EXPORT int video_output_switch_scan_mode(int port);
/* Names of the enabled JSON methods in table order; free the array with
 * g_free. Returns 0. */
VIDEO_OUTPUT_EXPORT int video_output_get_supported_methods(const char*** methods, int* count);

#ifdef __cplusplus
}
#endif
