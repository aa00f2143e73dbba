#pragma once

#include <glib.h>

G_BEGIN_DECLS

/*
 * The one VISCA device this bridge answers as: its address, the reply
 * templates whose header byte follows the address, and the version reply
 * built from the product number.
 */

#define VISCA_ACK_LEN 3
#define VISCA_COMPLETION_LEN 3
#define VISCA_ERROR_LEN 4
#define VISCA_VERSION_LEN 10

typedef struct {
    guint8 device_id; /* 1..7 */
    gboolean over_ip; /* VISCA over IP answers always with header 0x90 */
    guint8 header;    /* reply header byte */
    guint8 ack[VISCA_ACK_LEN];
    guint8 completion[VISCA_COMPLETION_LEN];
    guint8 error[VISCA_ERROR_LEN];
    guint8 version[VISCA_VERSION_LEN];
    const char* prod_nbr; /* product number the version bytes come from, never NULL */
} ViscaDevice;

/* The global device record; read it, change it only through the setters. */
extern ViscaDevice visca_device;

/*
 * Sets the device address (1..7; other values are refused with FALSE) and
 * rewrites the reply headers and the version reply from the stored product
 * number.
 */
gboolean visca_set_device_id(guint8 device_id);

/* Stores the product number (ProdNbr) used for the version reply. */
void visca_set_prod_nbr(const char* prod_nbr);

/* Selects the reply header rule of VISCA over IP (always 0x90) or serial. */
void visca_set_over_ip(gboolean over_ip);

G_END_DECLS
