/* PTZ coordinator calls: com.zeto.PTZ.Coordinator at /com/zeto/PTZ/Coordinator/1. */
#include <gio/gio.h>

#include "visca_dbus.h"
#include "visca_log.h"

#define OPERATOR "Operator"
/* Speed of GotoHome and GotoPresetName: 100 in 16.16 fixed point. */
#define FULL_SPEED (100 * 65536)
/* "Move" takes 30 integers; focus value and focus mode sit at these (1-based). */
#define MOVE_INTEGERS 30
#define MOVE_FOCUS_VALUE 18
#define MOVE_FOCUS_MODE 21

GDBusProxy* visca_dbus_ptz_proxy(void);

/*
 * Calls `method` with `params` (may be floating; always consumed). On success
 * the reply is stored in *reply when reply is not NULL, else released.
 */
static int ptz_call(const char* method, GVariant* params, GVariant** reply)
{
    g_variant_ref_sink(params);
    GDBusProxy* proxy = visca_dbus_ptz_proxy();
    if (proxy == NULL) {
        g_variant_unref(params);
        visca_log_message("%sTarrow D-Bus proxy has not been initialized");
        return VISCA_ERR_NO_PROXY;
    }
    g_autoptr(GError) error = NULL;
    GVariant* result =
        g_dbus_proxy_call_sync(proxy, method, params, G_DBUS_CALL_FLAGS_NONE, -1, NULL, &error);
    g_variant_unref(params);
    if (result == NULL) {
        if (error != NULL) {
            visca_log_warning("%sD-Bus %s error: %s", "Move", error->message);
        } else {
            visca_log_debug("%sD-Bus result error: result is NULL");
        }
        return VISCA_ERR_DBUS;
    }
    if (reply != NULL)
        *reply = result;
    else
        g_variant_unref(result);
    return VISCA_OK;
}

int visca_dbus_move_ptz(double pan, int pan_mode, double tilt, int tilt_mode, int zoom,
                        int zoom_mode, int speed)
{
    return ptz_call("MovePTZ",
                    g_variant_new("(sididiiii)", OPERATOR, 0, pan, pan_mode, tilt, tilt_mode, zoom,
                                  zoom_mode, speed),
                    NULL);
}

int visca_dbus_move_focus(int focus, int focus_mode)
{
    GVariant* members[1 + MOVE_INTEGERS];
    members[0] = g_variant_new_string(OPERATOR);
    for (int i = 1; i <= MOVE_INTEGERS; i++) {
        gint32 v = 0;
        if (i == MOVE_FOCUS_VALUE)
            v = (gint32)((gint64)focus * 65536);
        else if (i == MOVE_FOCUS_MODE)
            v = focus_mode;
        members[i] = g_variant_new_int32(v);
    }
    return ptz_call("Move", g_variant_new_tuple(members, G_N_ELEMENTS(members)), NULL);
}

int visca_dbus_goto_home(void)
{
    return ptz_call("GotoHome", g_variant_new("(sii)", OPERATOR, 0, FULL_SPEED), NULL);
}

int visca_dbus_auxiliary(const char* command)
{
    return ptz_call("Auxiliary", g_variant_new("(sis)", OPERATOR, 0, command), NULL);
}

int visca_dbus_set_preset_name(const char* name)
{
    return ptz_call("SetPresetName", g_variant_new("(sisb)", OPERATOR, 0, name, FALSE), NULL);
}

int visca_dbus_goto_preset_name(const char* name)
{
    return ptz_call("GotoPresetName", g_variant_new("(sisi)", OPERATOR, 0, name, FULL_SPEED), NULL);
}

int visca_dbus_remove_preset_name(const char* name)
{
    return ptz_call("RemovePresetName", g_variant_new("(sis)", OPERATOR, 0, name), NULL);
}

/* Upper 16 bits of a 16.16 value as a signed integer. */
static int upper16(gint32 v)
{
    return (gint16)(guint16)((guint32)v >> 16);
}

int visca_dbus_decode_position(GVariant* reply, ViscaPosition* position)
{
    if (reply == NULL || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(iiiiiiii)")))
        return VISCA_ERR_DBUS;
    gint32 m[8];
    g_variant_get(reply, "(iiiiiiii)", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5], &m[6], &m[7]);
    position->pan = m[0] / 65536.0;
    position->tilt = m[1] / 65536.0;
    position->zoom = upper16(m[2]);
    position->value4 = upper16(m[3]);
    position->value5 = upper16(m[4]);
    position->value6 = upper16(m[5]);
    position->flag7 = m[6] == 1;
    position->flag8 = m[7] == 1;
    return VISCA_OK;
}

int visca_dbus_query_position(ViscaPosition* position)
{
    GVariant* reply = NULL;
    int ret = ptz_call("QueryPosition", g_variant_new("(si)", OPERATOR, 0), &reply);
    if (ret != 0)
        return ret;
    ret = visca_dbus_decode_position(reply, position);
    if (ret != 0)
        visca_log_warning("%sD-Bus %s error: %s", "Move", "unexpected QueryPosition reply");
    g_variant_unref(reply);
    return ret;
}
