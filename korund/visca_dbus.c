#include "visca_dbus.h"

#include <gio/gio.h>
#include <string.h>

#include "visca_log.h"

/* PROXY STATE */

typedef struct {
    const char* service;
    const char* path;
    GDBusProxyFlags flags;
} ProxyInfo;

#define FLAGS_3                                                                                    \
    (G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES | G_DBUS_PROXY_FLAGS_DO_NOT_CONNECT_SIGNALS)
#define FLAGS_5 (G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES | G_DBUS_PROXY_FLAGS_DO_NOT_AUTO_START)
#define FLAGS_7 (FLAGS_3 | G_DBUS_PROXY_FLAGS_DO_NOT_AUTO_START)

static const ProxyInfo proxy_info[VISCA_PROXY_LAST + 1] = {
    [VISCA_PROXY_DEVICE_INFO] = {"com.zeto.BasicDeviceInfo1", "/com/zeto/BasicDeviceInfo1",
                                 FLAGS_3},
    [VISCA_PROXY_IMAGE] = {VISCA_DBUS_IMAGE_SERVICE, "/com/zeto/ImageControl/0/0", FLAGS_5},
    [VISCA_PROXY_PTZ_DRIVER] = {VISCA_DBUS_PTZ_SERVICE,
                                "/com/zeto/PTZ/Coordinator/1/LegacyConfig/Driver", FLAGS_7},
    [VISCA_PROXY_NET] = {"com.zeto.Net.Legacy", "/com/zeto/Net/Legacy", FLAGS_3},
    [VISCA_PROXY_LED] = {"com.zeto.LEDController", "/com/zeto/LEDController", FLAGS_3},
};

static GDBusProxy* property_proxies[VISCA_PROXY_LAST + 1];
static GDBusProxy* ptz_proxy;
static gboolean rotated;

/* Shared with the PTZ calls (visca_dbus_ptz.c). */
GDBusProxy* visca_dbus_ptz_proxy(void);
GDBusProxy* visca_dbus_ptz_proxy(void)
{
    return ptz_proxy;
}

/* PRESENCE OF A BUS NAME */

static gboolean reply_has_name(GVariant* reply, const char* name)
{
    if (!g_variant_is_of_type(reply, G_VARIANT_TYPE("(as)")))
        return FALSE;
    g_autoptr(GVariant) names = g_variant_get_child_value(reply, 0);
    gsize n = g_variant_n_children(names);
    for (gsize i = 0; i < n; i++) {
        g_autoptr(GVariant) item = g_variant_get_child_value(names, i);
        if (strcmp(g_variant_get_string(item, NULL), name) == 0)
            return TRUE;
    }
    return FALSE;
}

gboolean visca_dbus_name_present(const char* name)
{
    g_autoptr(GError) error = NULL;
    g_autoptr(GDBusProxy) bus = g_dbus_proxy_new_for_bus_sync(
        G_BUS_TYPE_SYSTEM, FLAGS_3, NULL, "org.freedesktop.DBus", "/org/freedesktop/DBus",
        "org.freedesktop.DBus", NULL, &error);
    if (bus == NULL) {
        visca_log_message("%sFailed to create a D-Bus proxy: %s", error->message);
        return FALSE;
    }
    static const char* const methods[] = {"ListActivatableNames", "ListNames"};
    for (gsize i = 0; i < G_N_ELEMENTS(methods); i++) {
        g_autoptr(GError) call_error = NULL;
        g_autoptr(GVariant) reply = g_dbus_proxy_call_sync(
            bus, methods[i], NULL, G_DBUS_CALL_FLAGS_NONE, 5000, NULL, &call_error);
        if (reply == NULL) {
            visca_log_message("%sD-Bus method call failed: %s", call_error->message);
            continue;
        }
        if (reply_has_name(reply, name))
            return TRUE;
    }
    return FALSE;
}

/* ROTATION */

gboolean visca_dbus_is_rotated(void)
{
    return rotated;
}

/* Text of a bytestring variant, up to its first NUL; NULL for other types. */
static char* bytestring_text(GVariant* value)
{
    if (!g_variant_is_of_type(value, G_VARIANT_TYPE_BYTESTRING))
        return NULL;
    gsize n = 0;
    const char* data = g_variant_get_fixed_array(value, &n, 1);
    return g_strndup(data ? data : "", n);
}

void visca_dbus_rotation_changed(const char* signal_name, GVariant* parameters)
{
    if (g_strcmp0(signal_name, "PropertiesChanged") != 0 || parameters == NULL ||
        !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)")))
        return;
    g_autoptr(GVariant) changed = g_variant_get_child_value(parameters, 1);
    g_autoptr(GVariant) value = g_variant_lookup_value(changed, "Rotation", NULL);
    if (value == NULL)
        return;
    g_autofree char* text = bytestring_text(value);
    rotated = g_strcmp0(text, "180") == 0;
    visca_log_debug("%sRotation changed, rotated: %d", rotated);
}

static void on_image_signal(GDBusProxy* proxy, const char* sender, const char* signal_name,
                            GVariant* parameters, gpointer user_data)
{
    (void)proxy;
    (void)sender;
    (void)user_data;
    visca_dbus_rotation_changed(signal_name, parameters);
}

/* PROXY LIFECYCLE */

static int open_property_proxy(int index)
{
    const ProxyInfo* info = &proxy_info[index];
    g_autoptr(GError) error = NULL;
    property_proxies[index] =
        g_dbus_proxy_new_for_bus_sync(G_BUS_TYPE_SYSTEM, info->flags, NULL, info->service,
                                      info->path, "org.freedesktop.DBus.Properties", NULL, &error);
    if (property_proxies[index] != NULL)
        return 0;
    if (index == VISCA_PROXY_IMAGE)
        visca_log_debug("%sD-Bus open proxy for \"%s\" failed: %s", info->service, error->message);
    else
        visca_log_warning("%sD-Bus open proxy for \"%s\" error: %s", info->service, error->message);
    return VISCA_ERR_PROXY_OPEN;
}

static int open_image_proxy(void)
{
    int ret = open_property_proxy(VISCA_PROXY_IMAGE);
    if (ret != 0)
        return ret;
    g_autofree char* rotation = NULL;
    rotated = visca_dbus_get_bytestring(VISCA_PROXY_IMAGE, "Rotation", &rotation) == 0 &&
              g_strcmp0(rotation, "180") == 0;
    if (g_signal_connect(property_proxies[VISCA_PROXY_IMAGE], "g-signal",
                         G_CALLBACK(on_image_signal), NULL) == 0)
        visca_log_message("%sD-Bus signal subscription failed");
    return 0;
}

int visca_dbus_open_property_proxies(void)
{
    int ret = open_property_proxy(VISCA_PROXY_DEVICE_INFO);
    if (ret == 0)
        ret = open_property_proxy(VISCA_PROXY_PTZ_DRIVER);
    if (ret == 0 && visca_dbus_name_present(VISCA_DBUS_IMAGE_SERVICE))
        ret = open_image_proxy();
    if (ret == 0)
        ret = open_property_proxy(VISCA_PROXY_NET);
    if (ret == 0)
        ret = open_property_proxy(VISCA_PROXY_LED);
    return ret;
}

int visca_dbus_open_ptz_proxy(void)
{
    g_autoptr(GError) error = NULL;
    g_clear_object(&ptz_proxy);
    ptz_proxy =
        g_dbus_proxy_new_for_bus_sync(G_BUS_TYPE_SYSTEM, FLAGS_7, NULL, VISCA_DBUS_PTZ_SERVICE,
                                      VISCA_DBUS_PTZ_PATH, VISCA_DBUS_PTZ_INTERFACE, NULL, &error);
    if (ptz_proxy != NULL)
        return 0;
    visca_log_warning("%sD-Bus open proxy for \"%s\" error: %s", VISCA_DBUS_PTZ_SERVICE,
                      error->message);
    return VISCA_ERR_PROXY_OPEN;
}

void visca_dbus_close(void)
{
    for (int i = VISCA_PROXY_FIRST; i <= VISCA_PROXY_LAST; i++) {
        if (property_proxies[i] != NULL)
            g_signal_handlers_disconnect_by_func(property_proxies[i], on_image_signal, NULL);
        g_clear_object(&property_proxies[i]);
    }
    g_clear_object(&ptz_proxy);
    rotated = FALSE;
}

/* PROPERTY ACCESS */

static GDBusProxy* property_proxy(int index)
{
    if (index < VISCA_PROXY_FIRST || index > VISCA_PROXY_LAST) {
        visca_log_message("%sUnsupported D-Bus proxy requested: %d", index);
        return NULL;
    }
    if (property_proxies[index] == NULL)
        visca_log_message("%sD-Bus property proxy has not been initialized");
    return property_proxies[index];
}

/* Reads one property; on success *value holds the unboxed value of `type`. */
static int property_get(int index, const char* interface, const char* name,
                        const GVariantType* type, GVariant** value)
{
    GDBusProxy* proxy = property_proxy(index);
    if (proxy == NULL)
        return VISCA_ERR_NO_PROXY;
    g_autoptr(GError) error = NULL;
    g_autoptr(GVariant) reply =
        g_dbus_proxy_call_sync(proxy, "Get", g_variant_new("(ss)", interface, name),
                               G_DBUS_CALL_FLAGS_NONE, -1, NULL, &error);
    if (reply == NULL) {
        if (error != NULL) {
            visca_log_warning("%sD-Bus %s error: %s", "Get", error->message);
        } else {
            visca_log_debug("%sD-Bus result error: result is NULL");
        }
        return VISCA_ERR_DBUS;
    }
    if (!g_variant_is_of_type(reply, G_VARIANT_TYPE("(v)")))
        return VISCA_ERR_VALUE;
    g_autoptr(GVariant) boxed = g_variant_get_child_value(reply, 0);
    g_autoptr(GVariant) inner = g_variant_get_variant(boxed);
    if (!g_variant_is_of_type(inner, type))
        return VISCA_ERR_VALUE;
    *value = g_steal_pointer(&inner);
    return VISCA_OK;
}

/* Writes one property; `value` may be floating. */
static int property_set(int index, const char* name, GVariant* value)
{
    g_variant_ref_sink(value);
    GDBusProxy* proxy = property_proxy(index);
    if (proxy == NULL) {
        g_variant_unref(value);
        return VISCA_ERR_NO_PROXY;
    }
    g_autoptr(GError) error = NULL;
    g_autoptr(GVariant) reply = g_dbus_proxy_call_sync(
        proxy, "Set", g_variant_new("(ssv)", VISCA_DBUS_CONFIG_INTERFACE, name, value),
        G_DBUS_CALL_FLAGS_NONE, -1, NULL, &error);
    g_variant_unref(value);
    if (reply == NULL) {
        if (error != NULL) {
            visca_log_warning("%sD-Bus %s error: %s", "Set", error->message);
        } else {
            visca_log_debug("%sD-Bus result error: result is NULL");
        }
        return VISCA_ERR_DBUS;
    }
    return VISCA_OK;
}

int visca_dbus_get_boolean(int proxy, const char* name, gboolean* value)
{
    GVariant* v = NULL;
    int ret = property_get(proxy, VISCA_DBUS_CONFIG_INTERFACE, name, G_VARIANT_TYPE_BOOLEAN, &v);
    if (ret == 0) {
        *value = g_variant_get_boolean(v);
        g_variant_unref(v);
    }
    return ret;
}

static int get_int32(int proxy, const char* interface, const char* name, gint32* value)
{
    GVariant* v = NULL;
    int ret = property_get(proxy, interface, name, G_VARIANT_TYPE_INT32, &v);
    if (ret == 0) {
        *value = g_variant_get_int32(v);
        g_variant_unref(v);
    }
    return ret;
}

int visca_dbus_get_int(int proxy, const char* name, gint32* value)
{
    return get_int32(proxy, VISCA_DBUS_CONFIG_INTERFACE, name, value);
}

int visca_dbus_get_stream_int(int proxy, const char* name, gint32* value)
{
    return get_int32(proxy, VISCA_DBUS_STREAM_INTERFACE, name, value);
}

int visca_dbus_get_double(int proxy, const char* name, double* value)
{
    GVariant* v = NULL;
    int ret = property_get(proxy, VISCA_DBUS_CONFIG_INTERFACE, name, G_VARIANT_TYPE_DOUBLE, &v);
    if (ret == 0) {
        *value = g_variant_get_double(v);
        g_variant_unref(v);
    }
    return ret;
}

int visca_dbus_get_string(int proxy, const char* name, char** value)
{
    GVariant* v = NULL;
    int ret = property_get(proxy, VISCA_DBUS_CONFIG_INTERFACE, name, G_VARIANT_TYPE_STRING, &v);
    if (ret == 0) {
        *value = g_variant_dup_string(v, NULL);
        g_variant_unref(v);
    }
    return ret;
}

int visca_dbus_get_bytestring(int proxy, const char* name, char** value)
{
    GVariant* v = NULL;
    int ret = property_get(proxy, VISCA_DBUS_CONFIG_INTERFACE, name, G_VARIANT_TYPE_BYTESTRING, &v);
    if (ret == 0) {
        *value = bytestring_text(v);
        g_variant_unref(v);
    }
    return ret;
}

int visca_dbus_set_boolean(int proxy, const char* name, gboolean value)
{
    return property_set(proxy, name, g_variant_new_boolean(value));
}

int visca_dbus_set_int(int proxy, const char* name, gint32 value)
{
    return property_set(proxy, name, g_variant_new_int32(value));
}

int visca_dbus_set_double(int proxy, const char* name, double value)
{
    return property_set(proxy, name, g_variant_new_double(value));
}

int visca_dbus_set_string(int proxy, const char* name, const char* value)
{
    return property_set(proxy, name, g_variant_new_string(value ? value : ""));
}

int visca_dbus_set_bytestring(int proxy, const char* name, const char* value)
{
    return property_set(proxy, name, g_variant_new_bytestring(value ? value : ""));
}

/* ACTION TABLE */

const ViscaActions visca_dbus_actions = {
    .get_boolean = visca_dbus_get_boolean,
    .get_int = visca_dbus_get_int,
    .get_stream_int = visca_dbus_get_stream_int,
    .get_double = visca_dbus_get_double,
    .get_string = visca_dbus_get_string,
    .get_bytestring = visca_dbus_get_bytestring,
    .set_boolean = visca_dbus_set_boolean,
    .set_int = visca_dbus_set_int,
    .set_double = visca_dbus_set_double,
    .set_string = visca_dbus_set_string,
    .set_bytestring = visca_dbus_set_bytestring,
    .move_ptz = visca_dbus_move_ptz,
    .move_focus = visca_dbus_move_focus,
    .goto_home = visca_dbus_goto_home,
    .auxiliary = visca_dbus_auxiliary,
    .set_preset_name = visca_dbus_set_preset_name,
    .goto_preset_name = visca_dbus_goto_preset_name,
    .remove_preset_name = visca_dbus_remove_preset_name,
    .query_position = visca_dbus_query_position,
    .is_rotated = visca_dbus_is_rotated,
};
