#pragma once

#include <glib.h>

G_BEGIN_DECLS

#define KORUND_CONFIG_PATH "/etc/korund/korund.conf"
#define KORUND_PRODUCTS_PATH "/usr/share/ptz/korund_products.conf"
#define KORUND_CONFIG_GROUP "korund"
#define KORUND_USER "ptzadm"

#define KORUND_DEFAULT_CONFIG                                                                      \
    "[korund]\nenabled=false\ninterface=none\nserialConfiguration=pointToPoint\nbaudRate=9600"

typedef enum {
    KORUND_INTERFACE_NONE = 1,
    KORUND_INTERFACE_IP = 2,
    KORUND_INTERFACE_SERIAL = 3,
} KorundInterface;

typedef enum {
    KORUND_SERIAL_POINT_TO_POINT = 1,
    KORUND_SERIAL_DAISY_END_POINT = 2,
    KORUND_SERIAL_DAISY_IN_CHAIN = 3,
} KorundSerialConfiguration;

/* The daemon's configuration: what the product offers and what is chosen. */
typedef struct {
    /* product file */
    gboolean has_serial;
    gboolean has_ip;
    char* serial_in_port;  /* NULL when the product names none */
    char* serial_out_port; /* NULL when the product names none */
    /* daemon file */
    gboolean enabled;
    KorundInterface interface;
    KorundSerialConfiguration serial_configuration;
    int baud_rate;
    GKeyFile* key_file; /* NULL until loaded, or after a failed save */
} KorundConfig;

extern KorundConfig korund_config;

/* Called after a saved change; restart_serial is TRUE after a baud-rate change. */
typedef void (*KorundReconfigureFunc)(gboolean restart_serial);
void korund_config_set_reconfigure_func(KorundReconfigureFunc func);

/* Text names of the configuration values; NULL for a value out of range. */
const char* korund_interface_name(KorundInterface interface);
const char* korund_serial_configuration_name(KorundSerialConfiguration conf);
/* 0 for an unknown name. */
KorundInterface korund_interface_from_name(const char* name);
KorundSerialConfiguration korund_serial_configuration_from_name(const char* name);

/* Reads the product group `prod_nbr` of the product file; 0 or -1. */
int korund_config_load_product(const char* prod_nbr);
/*
 * Reads the daemon file, restoring the default file when it is unreadable or
 * holds a value that is not allowed. 0 when the values came from the file,
 * 1 when the default was restored, -1 when even that failed.
 */
int korund_config_load(void);
int korund_config_restore_default(void);

/*
 * Changes one value, saving the file and reconfiguring the transports when it
 * differs from the current one. 0 on success or when nothing changed, -1 when
 * the file could not be saved.
 */
int korund_config_set_enabled(gboolean enabled);
int korund_config_set_interface(KorundInterface interface);
int korund_config_set_serial_configuration(KorundSerialConfiguration conf);
int korund_config_set_baud_rate(int baud_rate);

/* Frees everything and returns to the start-up state. */
void korund_config_clear(void);

G_END_DECLS
