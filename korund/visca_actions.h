#pragma once

#include <glib.h>

G_BEGIN_DECLS

/*
 * The camera actions the VISCA parsers act through. The parsers never do I/O
 * themselves: every camera read, write and move goes through the table
 * installed here. The default table is the D-Bus one (visca_dbus.h); tests
 * and fuzzers install a fake.
 *
 * Every function returns 0 on success or a negative code: -3 a value is
 * unreadable or has an unexpected form, -12 the D-Bus call failed, -13 the
 * proxy is not initialised.
 */

/* Property proxies, by index. */
typedef enum {
    VISCA_PROXY_DEVICE_INFO = 1, /* com.zeto.BasicDeviceInfo1 */
    VISCA_PROXY_IMAGE = 2,       /* com.zeto.ImageControl, camera 0 source 0 */
    VISCA_PROXY_PTZ_DRIVER = 3,  /* com.zeto.PTZ.Coordinator legacy driver settings */
    VISCA_PROXY_NET = 4,         /* com.zeto.Net.Legacy */
    VISCA_PROXY_LED = 5,         /* com.zeto.LEDController */
} ViscaProxyIndex;

#define VISCA_PROXY_FIRST VISCA_PROXY_DEVICE_INFO
#define VISCA_PROXY_LAST VISCA_PROXY_LED

/* Movement modes of the PTZ coordinator. */
typedef enum {
    VISCA_MODE_NONE = 0,
    VISCA_MODE_ABSOLUTE = 1,
    VISCA_MODE_RELATIVE = 2,
    VISCA_MODE_CONTINUOUS = 3,
} ViscaMoveMode;

/* The decoded QueryPosition reply. */
typedef struct {
    double pan;  /* degrees */
    double tilt; /* degrees */
    int zoom;    /* upper 16 bits of the third member */
    int value4;  /* upper 16 bits of the fourth to sixth members */
    int value5;
    int value6;
    gboolean flag7;
    gboolean flag8;
} ViscaPosition;

/* Result codes shared by the parsers and the actions. */
enum {
    VISCA_OK = 0,
    VISCA_ERR_TYPE = -1,         /* not the expected packet type, or no memory */
    VISCA_ERR_VALUE = -3,        /* camera value unreadable or of unexpected form */
    VISCA_ERR_DBUS = -12,        /* D-Bus call failed, or mains frequency unreadable */
    VISCA_ERR_NO_PROXY = -13,    /* D-Bus proxy not initialised */
    VISCA_ERR_UNSUPPORTED = -21, /* command or inquiry not supported */
    VISCA_ERR_LENGTH = -22,      /* wrong packet length or too short */
    VISCA_ERR_NOT_FOR_US = -23,  /* packet for another device */
    VISCA_ERR_PARAM = -24,       /* invalid parameter byte */
    VISCA_ERR_PARAM2 = -25,      /* invalid parameter byte */
};

typedef struct {
    /* Property reads, interface "com.zeto.Configuration.Legacy". Strings are
     * newly allocated (g_free). */
    int (*get_boolean)(int proxy, const char* name, gboolean* value);
    int (*get_int)(int proxy, const char* name, gint32* value);
    /* Integer read through the interface "com.zeto.ImageControlStream". */
    int (*get_stream_int)(int proxy, const char* name, gint32* value);
    int (*get_double)(int proxy, const char* name, double* value);
    int (*get_string)(int proxy, const char* name, char** value);
    int (*get_bytestring)(int proxy, const char* name, char** value);

    /* Property writes, interface "com.zeto.Configuration.Legacy". */
    int (*set_boolean)(int proxy, const char* name, gboolean value);
    int (*set_int)(int proxy, const char* name, gint32 value);
    int (*set_double)(int proxy, const char* name, double value);
    int (*set_string)(int proxy, const char* name, const char* value);
    int (*set_bytestring)(int proxy, const char* name, const char* value);

    /* PTZ coordinator calls. */
    int (*move_ptz)(double pan, int pan_mode, double tilt, int tilt_mode, int zoom, int zoom_mode,
                    int speed);
    int (*move_focus)(int focus, int focus_mode);
    int (*goto_home)(void);
    int (*auxiliary)(const char* command);
    int (*set_preset_name)(const char* name);
    int (*goto_preset_name)(const char* name);
    int (*remove_preset_name)(const char* name);
    int (*query_position)(ViscaPosition* position);

    /* TRUE while the picture is rotated by 180 degrees. */
    gboolean (*is_rotated)(void);
} ViscaActions;

/* Installs an action table; NULL restores the D-Bus table. */
void visca_actions_set(const ViscaActions* actions);

/* The table in use. */
const ViscaActions* visca_actions_get(void);

G_END_DECLS
