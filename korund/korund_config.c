#include "korund_config.h"

#include <errno.h>
#include <glib/gstdio.h>
#include <pwd.h>
#include <string.h>
#include <unistd.h>

#include "korund_paths.h"

#define PFX ""

KorundConfig korund_config = {
    .enabled = FALSE,
    .interface = KORUND_INTERFACE_NONE,
    .serial_configuration = KORUND_SERIAL_POINT_TO_POINT,
    .baud_rate = 9600,
};

static KorundReconfigureFunc reconfigure_func;

void korund_config_set_reconfigure_func(KorundReconfigureFunc func)
{
    reconfigure_func = func;
}

/* NAMES */

static const char* const interface_names[] = {NULL, "none", "viscaOverIP", "viscaOverSerial"};
static const char* const serial_names[] = {NULL, "pointToPoint", "daisyEndPoint", "daisyInChain"};

const char* korund_interface_name(KorundInterface interface)
{
    if (interface < KORUND_INTERFACE_NONE || interface > KORUND_INTERFACE_SERIAL)
        return NULL;
    return interface_names[interface];
}

const char* korund_serial_configuration_name(KorundSerialConfiguration conf)
{
    if (conf < KORUND_SERIAL_POINT_TO_POINT || conf > KORUND_SERIAL_DAISY_IN_CHAIN)
        return NULL;
    return serial_names[conf];
}

KorundInterface korund_interface_from_name(const char* name)
{
    for (int i = KORUND_INTERFACE_NONE; name && i <= KORUND_INTERFACE_SERIAL; i++)
        if (strcmp(name, interface_names[i]) == 0)
            return (KorundInterface)i;
    return 0;
}

KorundSerialConfiguration korund_serial_configuration_from_name(const char* name)
{
    for (int i = KORUND_SERIAL_POINT_TO_POINT; name && i <= KORUND_SERIAL_DAISY_IN_CHAIN; i++)
        if (strcmp(name, serial_names[i]) == 0)
            return (KorundSerialConfiguration)i;
    return 0;
}

/* PRODUCT FILE */

int korund_config_load_product(const char* prod_nbr)
{
    g_autoptr(GKeyFile) products = g_key_file_new();
    g_autofree char* path = korund_path_resolve(KORUND_PRODUCTS_PATH);
    g_autoptr(GError) error = NULL;

    if (!g_key_file_load_from_file(products, path, G_KEY_FILE_NONE, &error)) {
        g_warning("%sFatal error, could not open product configuration", PFX);
        return -1;
    }
    /* Missing keys (or a missing group) leave the defaults: no interface. */
    korund_config.has_serial = g_key_file_get_boolean(products, prod_nbr, "interfaceSerial", NULL);
    korund_config.has_ip = g_key_file_get_boolean(products, prod_nbr, "interfaceIP", NULL);
    g_free(korund_config.serial_in_port);
    g_free(korund_config.serial_out_port);
    korund_config.serial_in_port = g_key_file_get_string(products, prod_nbr, "serialInPort", NULL);
    korund_config.serial_out_port =
        g_key_file_get_string(products, prod_nbr, "serialOutPort", NULL);
    g_info("%sSupported interfaces: serial=%s, IP=%s", PFX,
           korund_config.has_serial ? "true" : "false", korund_config.has_ip ? "true" : "false");
    return 0;
}

/* DAEMON FILE */

static void set_defaults_in_memory(void)
{
    korund_config.enabled = FALSE;
    korund_config.interface = KORUND_INTERFACE_NONE;
    korund_config.serial_configuration = KORUND_SERIAL_POINT_TO_POINT;
    korund_config.baud_rate = 9600;
}

int korund_config_restore_default(void)
{
    g_autofree char* path = korund_path_resolve(KORUND_CONFIG_PATH);
    g_autofree char* dir = g_path_get_dirname(path);
    g_autoptr(GError) error = NULL;
    int result = 0;

    set_defaults_in_memory();
    if (g_remove(path) != 0 && errno != ENOENT) {
        g_warning("%sFailed to remove old configuration file, \"%s\"", PFX, path);
        result = -1;
    }
    if (korund_config.key_file != NULL)
        g_key_file_unref(korund_config.key_file);
    korund_config.key_file = g_key_file_new();
    if (!g_key_file_load_from_data(korund_config.key_file, KORUND_DEFAULT_CONFIG, -1,
                                   G_KEY_FILE_KEEP_COMMENTS, &error)) {
        g_warning("%sFailed to load default configuration: %s", PFX, error->message);
        return -1;
    }
    g_mkdir_with_parents(dir, 0755);
    if (!g_key_file_save_to_file(korund_config.key_file, path, &error)) {
        g_warning("%sFailed to save default configuration: %s", PFX, error->message);
        return -1;
    }

    struct passwd pwd;
    struct passwd* found = NULL;
    char buf[1024];
    if (getpwnam_r(KORUND_USER, &pwd, buf, sizeof buf, &found) != 0 || found == NULL) {
        g_warning("%sFailed to get user and group for file access", PFX);
        return -1;
    }
    if (chown(path, pwd.pw_uid, pwd.pw_gid) != 0) {
        g_warning("%sFailed change file ownership", PFX);
        return -1;
    }
    return result;
}

/* Restores the default and reports that it did (1) or that even that failed. */
static int restore(void)
{
    return korund_config_restore_default() == 0 ? 1 : -1;
}

int korund_config_load(void)
{
    g_autofree char* path = korund_path_resolve(KORUND_CONFIG_PATH);
    g_autoptr(GError) error = NULL;

    if (korund_config.key_file != NULL)
        g_key_file_unref(korund_config.key_file);
    korund_config.key_file = g_key_file_new();
    if (!g_key_file_load_from_file(korund_config.key_file, path, G_KEY_FILE_KEEP_COMMENTS,
                                   &error)) {
        g_warning("%sFailed to open configuration, restoring default", PFX);
        return restore();
    }
    GKeyFile* kf = korund_config.key_file;

    gboolean enabled = g_key_file_get_boolean(kf, KORUND_CONFIG_GROUP, "enabled", &error);
    if (error != NULL) {
        g_warning("%sFailed to read enabled parameter: %s", PFX, error->message);
        return restore();
    }

    g_autofree char* interface =
        g_key_file_get_string(kf, KORUND_CONFIG_GROUP, "interface", &error);
    if (error != NULL) {
        g_warning("%sFailed to read interface parameter: %s", PFX, error->message);
        return restore();
    }
    KorundInterface iface = korund_interface_from_name(interface);
    if (iface == 0 || (iface == KORUND_INTERFACE_IP && !korund_config.has_ip) ||
        (iface == KORUND_INTERFACE_SERIAL && !korund_config.has_serial)) {
        g_warning("%sUnsupported interface: %s", PFX, interface);
        return restore();
    }
    korund_config.enabled = enabled;
    korund_config.interface = iface;
    if (!korund_config.has_serial)
        return 0;

    g_autofree char* serial =
        g_key_file_get_string(kf, KORUND_CONFIG_GROUP, "serialConfiguration", &error);
    if (error != NULL) {
        g_warning("%sFailed to read serial configuration parameter: %s", PFX, error->message);
        return restore();
    }
    KorundSerialConfiguration conf = korund_serial_configuration_from_name(serial);
    if (conf == 0) {
        g_warning("%sUnsupported serial configuration: %s", PFX, serial);
        return restore();
    }

    int baud = g_key_file_get_integer(kf, KORUND_CONFIG_GROUP, "baudRate", &error);
    if (error != NULL) {
        g_warning("%sFailed to read baudrate parameter: %s", PFX, error->message);
        return restore();
    }
    if (baud != 9600 && baud != 38400) {
        g_warning("%sUnsupported serial baud rate configuration: %d", PFX, baud);
        return restore();
    }
    korund_config.serial_configuration = conf;
    korund_config.baud_rate = baud;
    return 0;
}

/* CHANGES FROM THE API */

/*
 * The key file is dropped after a failed save; a later change starts again
 * from the values in memory so it cannot write a file with keys missing.
 */
static GKeyFile* key_file_for_change(void)
{
    if (korund_config.key_file == NULL) {
        GKeyFile* kf = g_key_file_new();
        g_key_file_set_boolean(kf, KORUND_CONFIG_GROUP, "enabled", korund_config.enabled);
        g_key_file_set_string(kf, KORUND_CONFIG_GROUP, "interface",
                              korund_interface_name(korund_config.interface));
        g_key_file_set_string(kf, KORUND_CONFIG_GROUP, "serialConfiguration",
                              korund_serial_configuration_name(korund_config.serial_configuration));
        g_key_file_set_integer(kf, KORUND_CONFIG_GROUP, "baudRate", korund_config.baud_rate);
        korund_config.key_file = kf;
    }
    return korund_config.key_file;
}

static int save_and_reconfigure(gboolean restart_serial)
{
    g_autofree char* path = korund_path_resolve(KORUND_CONFIG_PATH);
    g_autoptr(GError) error = NULL;

    if (!g_key_file_save_to_file(korund_config.key_file, path, &error)) {
        g_warning("%sFailed update configuration file: %s", PFX, error->message);
        g_clear_pointer(&korund_config.key_file, g_key_file_unref);
        return -1;
    }
    if (reconfigure_func != NULL)
        reconfigure_func(restart_serial);
    return 0;
}

int korund_config_set_enabled(gboolean enabled)
{
    enabled = !!enabled;
    if (enabled == korund_config.enabled)
        return 0;
    korund_config.enabled = enabled;
    g_key_file_set_boolean(key_file_for_change(), KORUND_CONFIG_GROUP, "enabled", enabled);
    g_info("%schanged configuration, service now %s", PFX, enabled ? "enabled" : "disabled");
    return save_and_reconfigure(FALSE);
}

int korund_config_set_interface(KorundInterface interface)
{
    const char* name = korund_interface_name(interface);

    g_return_val_if_fail(name != NULL, -1);
    if (interface == korund_config.interface)
        return 0;
    korund_config.interface = interface;
    g_key_file_set_string(key_file_for_change(), KORUND_CONFIG_GROUP, "interface", name);
    g_info("%schanged configuration, %s now %s", PFX, "interface", name);
    return save_and_reconfigure(FALSE);
}

int korund_config_set_serial_configuration(KorundSerialConfiguration conf)
{
    const char* name = korund_serial_configuration_name(conf);

    g_return_val_if_fail(name != NULL, -1);
    if (conf == korund_config.serial_configuration)
        return 0;
    korund_config.serial_configuration = conf;
    g_key_file_set_string(key_file_for_change(), KORUND_CONFIG_GROUP, "serialConfiguration", name);
    g_info("%schanged configuration, %s now %s", PFX, "serialConfiguration", name);
    return save_and_reconfigure(FALSE);
}

int korund_config_set_baud_rate(int baud_rate)
{
    g_return_val_if_fail(baud_rate == 9600 || baud_rate == 38400, -1);
    if (baud_rate == korund_config.baud_rate)
        return 0;
    korund_config.baud_rate = baud_rate;
    g_key_file_set_integer(key_file_for_change(), KORUND_CONFIG_GROUP, "baudRate", baud_rate);
    g_info("%schanged configuration, serial baud-rate now %d", PFX, baud_rate);
    return save_and_reconfigure(TRUE);
}

void korund_config_clear(void)
{
    g_clear_pointer(&korund_config.key_file, g_key_file_unref);
    g_clear_pointer(&korund_config.serial_in_port, g_free);
    g_clear_pointer(&korund_config.serial_out_port, g_free);
    korund_config.has_serial = FALSE;
    korund_config.has_ip = FALSE;
    set_defaults_in_memory();
}
