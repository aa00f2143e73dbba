#include "visca_device.h"

#include <string.h>

#include "visca_log.h"

gboolean visca_debug_all = FALSE;

ViscaDevice visca_device = {
    .device_id = 1,
    .over_ip = FALSE,
    .header = 0x90,
    .ack = {0x90, 0x41, 0xFF},
    .completion = {0x90, 0x51, 0xFF},
    .error = {0x90, 0x61, 0x41, 0xFF},
    .version = {0x90, 0x50, 'Z', 'T', 0, 0, 0, 0x00, 0x02, 0xFF},
    .prod_nbr = "",
};

/* Storage of visca_device.prod_nbr once one was set. */
static char* prod_nbr_copy;

/* Decimal value of two ASCII digits; anything else counts as 0. */
static guint8 two_digits(const char* text)
{
    if (!g_ascii_isdigit(text[0]) || !g_ascii_isdigit(text[1]))
        return 0;
    return (guint8)((text[0] - '0') * 10 + (text[1] - '0'));
}

static void update_replies(void)
{
    ViscaDevice* d = &visca_device;
    guint8 header = d->over_ip ? 0x90 : (guint8)(0x80 + d->device_id * 16);
    d->header = header;
    d->ack[0] = header;
    d->completion[0] = header;
    d->error[0] = header;
    d->version[0] = header;

    /* Letter, model number and firmware number from "LMMFF..."; a product
     * number shorter than five characters leaves the missing parts 0. */
    const char* p = d->prod_nbr;
    gsize n = strlen(p);
    d->version[4] = n >= 1 ? (guint8)p[0] : 0;
    d->version[5] = n >= 3 ? two_digits(p + 1) : 0;
    d->version[6] = n >= 5 ? two_digits(p + 3) : 0;
}

gboolean visca_set_device_id(guint8 device_id)
{
    if (device_id < 1 || device_id > 7)
        return FALSE;
    visca_device.device_id = device_id;
    update_replies();
    const guint8* v = visca_device.version;
    visca_log_info("%sSetting name in version: [ %c %c %c %02d %02d ]", v[2], v[3],
                   v[4] ? v[4] : ' ', v[5], v[6]);
    return TRUE;
}

void visca_set_prod_nbr(const char* prod_nbr)
{
    /* Kept whole: the discovery reply names the product with it. */
    char* copy = g_strdup(prod_nbr ? prod_nbr : "");
    g_free(prod_nbr_copy);
    prod_nbr_copy = copy;
    visca_device.prod_nbr = copy;
    update_replies();
}

void visca_set_over_ip(gboolean over_ip)
{
    visca_device.over_ip = over_ip;
    update_replies();
}
