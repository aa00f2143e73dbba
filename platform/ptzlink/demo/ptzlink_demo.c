/* ptzlink-demo: moves the camera through libptzlink and reads its pose back,
 * the way a daemon does: the control socket comes from the PTZ service
 * ("com.zeto.PTZ2.ControlSocket1" on the system bus).
 *
 *   ptzlink-demo [PAN_SPEED [TILT_SPEED [ZOOM_SPEED [SECONDS]]]]
 */
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <stdio.h>
#include <stdlib.h>

#include "ptzlink.h"

static int on_connect(int channel, int* fd, int* handle, void* data)
{
    GDBusConnection* bus = data;
    g_autofree char* path = g_strdup_printf("/com/zeto/PTZ2/Channel/%d", channel);
    g_autoptr(GUnixFDList) fds = NULL;
    g_autoptr(GError) err = NULL;
    g_autoptr(GVariant) r = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, "com.zeto.PTZ2", path, "com.zeto.PTZ2.ControlSocket1", "CreateSocketAsAutotracker",
        NULL, G_VARIANT_TYPE("(i)"), G_DBUS_CALL_FLAGS_NONE, 5000, NULL, &fds, NULL, &err);
    if (r == NULL) {
        fprintf(stderr, "CreateSocketAsAutotracker: %s\n", err->message);
        return -1;
    }
    g_variant_get(r, "(i)", handle);
    *fd = fds != NULL ? g_unix_fd_list_get(fds, 0, NULL) : -1;
    return *fd >= 0 ? 0 : -1;
}

static int on_disconnect(int channel, int handle, void* data)
{
    GDBusConnection* bus = data;
    g_autofree char* path = g_strdup_printf("/com/zeto/PTZ2/Channel/%d", channel);
    g_autoptr(GVariant) r = g_dbus_connection_call_sync(
        bus, "com.zeto.PTZ2", path, "com.zeto.PTZ2.ControlSocket1", "DestroySocket",
        g_variant_new("(i)", handle), NULL, G_DBUS_CALL_FLAGS_NONE, 5000, NULL, NULL);
    return r != NULL ? 0 : -1;
}

static void show(int client, const char* what, gint64 t)
{
    float pan, tilt, ps, ts, hfov, vfov, zoom;
    uint32_t status;
    int r = ptzlink_get_datacache_value(client, t / 1000000, t % 1000000, &pan, &tilt, &status, &ps,
                                        &ts, &hfov, &vfov, &zoom);
    if (r != PTZLINK_OK)
        printf("%-8s no position (%d)\n", what, r);
    else
        printf("%-8s pan %8.3f tilt %8.3f zoom %6.3f fov %6.2f x %5.2f speed %7.2f %7.2f "
               "status 0x%02x\n",
               what, pan, tilt, zoom, hfov, vfov, ps, ts, status);
}

int main(int argc, char** argv)
{
    double pan = argc > 1 ? atof(argv[1]) : 20.0;
    double tilt = argc > 2 ? atof(argv[2]) : -10.0;
    double zoom = argc > 3 ? atof(argv[3]) : 50.0;
    double seconds = argc > 4 ? atof(argv[4]) : 1.0;

    g_autoptr(GError) err = NULL;
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, NULL, &err);
    if (bus == NULL) {
        fprintf(stderr, "system bus: %s\n", err->message);
        return 1;
    }
    int client = ptzlink_client_create(1, 0);
    ptzlink_client_set_dbus_interface(client, on_connect, on_disconnect, bus);
    int r = ptzlink_client_start(client, 0);
    if (r != PTZLINK_OK) {
        fprintf(stderr, "no control socket (%d): is camsim running?\n", r);
        return 1;
    }
    gint64 t0 = g_get_monotonic_time();
    show(client, "before", 0);
    r = ptzlink_continuous_move(client, pan, tilt, zoom);
    printf("continuous move %.2f %.2f %.2f for %.1f s: %d\n", pan, tilt, zoom, seconds, r);
    g_usleep((gulong)(seconds * 1e6));
    show(client, "halfway", t0 + (gint64)(seconds * 5e5));
    ptzlink_continuous_move(client, 0, 0, 0);
    show(client, "now", 0);
    ptzlink_client_stop(client);
    ptzlink_client_delete(client);
    return r == PTZLINK_OK ? 0 : 1;
}
