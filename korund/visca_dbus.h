#pragma once

#include <glib.h>

#include "visca_actions.h"

G_BEGIN_DECLS

/*
 * Camera actions over D-Bus (system bus): five property proxies on
 * "org.freedesktop.DBus.Properties", the PTZ coordinator method proxy and the
 * picture-rotation flag. All calls are synchronous and belong to the thread
 * that runs the daemon's main loop.
 */

#define VISCA_DBUS_CONFIG_INTERFACE "com.zeto.Configuration.Legacy"
#define VISCA_DBUS_STREAM_INTERFACE "com.zeto.ImageControlStream"
#define VISCA_DBUS_IMAGE_SERVICE "com.zeto.ImageControl"
#define VISCA_DBUS_PTZ_SERVICE "com.zeto.PTZ.Coordinator"
#define VISCA_DBUS_PTZ_PATH "/com/zeto/PTZ/Coordinator/1"
#define VISCA_DBUS_PTZ_INTERFACE "com.zeto.PTZ.Coordinator"

/* Start-up error of the proxies. */
#define VISCA_ERR_PROXY_OPEN (-11)

/*
 * Creates the property proxies in the order 1, 3, 2 (only when the image
 * service is on the bus; reads the rotation and follows its changes), 4, 5.
 * Returns 0 or -11.
 */
int visca_dbus_open_property_proxies(void);

/* Creates the PTZ coordinator method proxy. Returns 0 or -11. */
int visca_dbus_open_ptz_proxy(void);

/* Releases every proxy (safe to call more than once). */
void visca_dbus_close(void);

/* TRUE when `name` is activatable or currently owned on the system bus. */
gboolean visca_dbus_name_present(const char* name);

/* Typed property access through proxy 1..5. */
int visca_dbus_get_boolean(int proxy, const char* name, gboolean* value);
int visca_dbus_get_int(int proxy, const char* name, gint32* value);
int visca_dbus_get_stream_int(int proxy, const char* name, gint32* value);
int visca_dbus_get_double(int proxy, const char* name, double* value);
int visca_dbus_get_string(int proxy, const char* name, char** value);
int visca_dbus_get_bytestring(int proxy, const char* name, char** value);
int visca_dbus_set_boolean(int proxy, const char* name, gboolean value);
int visca_dbus_set_int(int proxy, const char* name, gint32 value);
int visca_dbus_set_double(int proxy, const char* name, double value);
int visca_dbus_set_string(int proxy, const char* name, const char* value);
int visca_dbus_set_bytestring(int proxy, const char* name, const char* value);

/* PTZ coordinator calls (operator "Operator", channel 0). */
int visca_dbus_move_ptz(double pan, int pan_mode, double tilt, int tilt_mode, int zoom,
                        int zoom_mode, int speed);
int visca_dbus_move_focus(int focus, int focus_mode);
int visca_dbus_goto_home(void);
int visca_dbus_auxiliary(const char* command);
int visca_dbus_set_preset_name(const char* name);
int visca_dbus_goto_preset_name(const char* name);
int visca_dbus_remove_preset_name(const char* name);
int visca_dbus_query_position(ViscaPosition* position);

/*
 * Decodes a QueryPosition reply "(iiiiiiii)"; a reply of another form gives
 * -12.
 */
int visca_dbus_decode_position(GVariant* reply, ViscaPosition* position);

/* The rotation flag: TRUE while ImageControl "Rotation" is "180". */
gboolean visca_dbus_is_rotated(void);

/* Applies a "PropertiesChanged" signal of the image proxy to the flag. */
void visca_dbus_rotation_changed(const char* signal_name, GVariant* parameters);

/* The action table backed by these functions. */
extern const ViscaActions visca_dbus_actions;

G_END_DECLS
