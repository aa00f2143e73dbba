/* korund: answers a VISCA controller on serial lines or UDP as a camera would. */
#include <glib-unix.h>
#include <glib.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "korund_cgi.h"
#include "korund_config.h"
#include "korund_privileges.h"
#include "korund_transport.h"
#include "visca_actions.h"
#include "visca_dbus.h"
#include "visca_device.h"
#include "visca_log.h"
#include "zolog.h"

#define ENABLED_CHECK_SECONDS 10

static gboolean opt_no_daemon;
static gboolean opt_debug_all;
static gint opt_cam_id = 1;
static gchar* opt_portin;
static gchar* opt_portout;

static const GOptionEntry entries[] = {
    {"no-daemon", 'n', 0, G_OPTION_ARG_NONE, &opt_no_daemon, "Do not daemonize after setup", NULL},
    {"debug-all", 'd', 0, G_OPTION_ARG_NONE, &opt_debug_all, "Enable debug output prints", NULL},
    {"cam-id", 'i', 0, G_OPTION_ARG_INT, &opt_cam_id, "Select VISCA device id, defaults to 1",
     NULL},
    {"portin", '1', 0, G_OPTION_ARG_STRING, &opt_portin,
     "Serial input device to use, defaults to /dev/ttyPCC0", NULL},
    {"portout", '2', 0, G_OPTION_ARG_STRING, &opt_portout,
     "Serial output device to use, defaults to /dev/ttyPCC1", NULL},
    G_OPTION_ENTRY_NULL,
};

static GMainLoop* main_loop;

static gboolean on_signal(gpointer user_data)
{
    visca_log_debug("%sReceived signal: %d", GPOINTER_TO_INT(user_data));
    g_main_loop_quit(main_loop);
    return G_SOURCE_CONTINUE;
}

static gboolean check_enabled(gpointer user_data)
{
    (void)user_data;
    if (!korund_config.enabled) {
        visca_log_message("%sService not enabled, terminating");
        g_main_loop_quit(main_loop);
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

/* The product number, read twice with a pause when the first read fails. */
static char* read_prod_nbr(void)
{
    char* prod_nbr = NULL;

    if (visca_actions_get()->get_string(VISCA_PROXY_DEVICE_INFO, "ProdNbr", &prod_nbr) == 0)
        return prod_nbr;
    g_usleep(2 * G_USEC_PER_SEC);
    if (visca_actions_get()->get_string(VISCA_PROXY_DEVICE_INFO, "ProdNbr", &prod_nbr) == 0)
        return prod_nbr;
    return NULL;
}

static void load_configuration(void)
{
    g_autofree char* prod_nbr = read_prod_nbr();

    if (prod_nbr == NULL) {
        visca_log_warning("%sFatal error, could not discern product number");
        return;
    }
    visca_set_prod_nbr(prod_nbr);
    if (korund_config_load_product(prod_nbr) != 0)
        return;
    korund_config_load();
}

static void reconfigure_after_change(gboolean restart_serial)
{
    reconfigure(restart_serial);
}

static void shut_down(void)
{
    visca_dbus_close();
    korund_transport_close_all();
    korund_cgi_close();
    korund_config_clear();
    g_clear_pointer(&main_loop, g_main_loop_unref);
    g_clear_pointer(&opt_portin, g_free);
    g_clear_pointer(&opt_portout, g_free);
}

int main(int argc, char** argv)
{
    g_autoptr(GError) error = NULL;
    g_autoptr(GOptionContext) context = g_option_context_new(NULL);

    g_option_context_add_main_entries(context, entries, NULL);
    if (!g_option_context_parse(context, &argc, &argv, &error)) {
        fprintf(stderr, "%s\nTry -? or --help for more information.\n", error->message);
        return 1;
    }
    visca_debug_all = opt_debug_all;

    main_loop = g_main_loop_new(NULL, FALSE);

    if (opt_no_daemon)
        zo_log_stdout();
    else
        zo_log_syslog(NULL);
    zo_log_set_debug(opt_debug_all);
    visca_log_info("%s%s: starting", g_get_prgname());

    if (korund_cgi_open() != 0) {
        shut_down();
        return 1;
    }
    if (!opt_no_daemon && daemon(0, 0) != 0) {
        visca_log_warning("%sFailed to daemonize");
        shut_down();
        return 1;
    }
    /* Only now: GLib hands Unix signals to the main loop through a worker
     * thread, and a thread started before daemon() does not survive its fork. */
    g_unix_signal_add(SIGTERM, on_signal, GINT_TO_POINTER(SIGTERM));
    g_unix_signal_add(SIGINT, on_signal, GINT_TO_POINTER(SIGINT));
    if (visca_dbus_open_property_proxies() != 0) {
        shut_down();
        return 1;
    }
    load_configuration();
    if (visca_dbus_open_ptz_proxy() != 0) {
        shut_down();
        return 1;
    }

    /* Ports: the options win, then the product's, then the defaults. */
    const char* in_path = opt_portin                     ? opt_portin
                          : korund_config.serial_in_port ? korund_config.serial_in_port
                                                         : "/dev/ttyPCC0";
    const char* out_path = opt_portout                     ? opt_portout
                           : korund_config.serial_out_port ? korund_config.serial_out_port
                                                           : "/dev/ttyPCC1";
    korund_transport_set_serial_paths(in_path, out_path);
    if (!visca_set_device_id((guint8)CLAMP(opt_cam_id, 0, 255)))
        visca_log_warning("%sInvalid VISCA device id %d, using %d", opt_cam_id,
                          visca_device.device_id);

    if (korund_config.enabled && korund_config.interface != KORUND_INTERFACE_NONE &&
        reconfigure(FALSE) != 0) {
        shut_down();
        return 1;
    }
    korund_config_set_reconfigure_func(reconfigure_after_change);

    if (korund_drop_privileges(KORUND_USER) != 0) {
        visca_log_warning("%sFailed to change access rights");
        shut_down();
        return 1;
    }

    visca_log_message("%sService up and running");
    g_timeout_add_seconds(ENABLED_CHECK_SECONDS, check_enabled, NULL);
    g_main_loop_run(main_loop);

    visca_log_info("%s%s: exiting", g_get_prgname());
    shut_down();
    return 0;
}
