/* Inquiries: 8x 09 <category> <inquiry> FF. */
#include <string.h>

#include "visca_cmd_internal.h"
#include "visca_device.h"
#include "visca_log.h"
#include "visca_parser.h"

#define LOG_NAME() visca_log_debug("%s%s", G_STRFUNC)

/* Builds header 50 <payload> FF. */
static int make_reply(const guint8* payload, gsize payload_length, guint8** reply,
                      gsize* reply_length)
{
    gsize n = payload_length + 3;
    guint8* r = g_try_malloc(n);
    if (r == NULL)
        return VISCA_ERR_TYPE;
    r[0] = visca_device.header;
    r[1] = 0x50;
    memcpy(r + 2, payload, payload_length);
    r[n - 1] = VISCA_TERMINATOR;
    *reply = r;
    *reply_length = n;
    return VISCA_OK;
}

static int reply_byte(guint8 value, guint8** reply, gsize* reply_length)
{
    return make_reply(&value, 1, reply, reply_length);
}

static void put_nibbles(guint8* out, guint value)
{
    out[0] = (value >> 12) & 0x0F;
    out[1] = (value >> 8) & 0x0F;
    out[2] = (value >> 4) & 0x0F;
    out[3] = value & 0x0F;
}

/* SUB-PARSERS */

int visca_inq_version_parser(guint8** reply, gsize* reply_length)
{
    LOG_NAME();
    guint8* r = g_try_malloc(VISCA_VERSION_LEN);
    if (r == NULL)
        return VISCA_ERR_TYPE;
    memcpy(r, visca_device.version, VISCA_VERSION_LEN);
    r[0] = visca_device.header;
    *reply = r;
    *reply_length = VISCA_VERSION_LEN;
    return VISCA_OK;
}

static int boolean_reply(int proxy, const char* property, guint8** reply, gsize* reply_length)
{
    gboolean on;
    int ret = VISCA_ACTIONS->get_boolean(proxy, property, &on);
    if (ret != 0)
        return ret;
    return reply_byte(on ? 0x02 : 0x03, reply, reply_length);
}

int visca_inq_white_balance_parser(guint8** reply, gsize* reply_length)
{
    LOG_NAME();
    static const char* const modes[] = {"auto", "fixed_indoor", "fixed_outdoor1",
                                        NULL,   "auto_outdoor", "onepush"};
    char* mode = NULL;
    int ret = VISCA_ACTIONS->get_bytestring(VISCA_PROXY_IMAGE, "WhiteBalance", &mode);
    if (ret != 0)
        return ret;
    ret = VISCA_ERR_PARAM2;
    for (guint8 i = 0; i < G_N_ELEMENTS(modes); i++) {
        if (modes[i] != NULL && g_strcmp0(mode, modes[i]) == 0) {
            ret = reply_byte(i, reply, reply_length);
            break;
        }
    }
    g_free(mode);
    return ret;
}

/* Reads a "yes"/"no" bytestring; other text is -3. */
static int read_yes(const char* property, gboolean* yes)
{
    char* text = NULL;
    int ret = VISCA_ACTIONS->get_bytestring(VISCA_PROXY_IMAGE, property, &text);
    if (ret == 0) {
        *yes = g_strcmp0(text, "yes") == 0;
        if (!*yes && g_strcmp0(text, "no") != 0)
            ret = VISCA_ERR_VALUE;
    }
    g_free(text);
    return ret;
}

int visca_inq_auto_exposure_parser(guint8** reply, gsize* reply_length)
{
    LOG_NAME();
    gboolean shutter, gain, iris;
    int ret = read_yes("ManualShutterControl", &shutter);
    if (ret == 0)
        ret = read_yes("ManualGainControl", &gain);
    if (ret == 0)
        ret = read_yes("IrisEnabled", &iris);
    if (ret != 0)
        return ret;
    guint8 mode;
    if (!shutter && !gain && iris)
        mode = 0x00; /* full auto */
    else if (shutter && gain && !iris)
        mode = 0x03; /* manual */
    else if (shutter && !gain && iris)
        mode = 0x0A; /* shutter priority */
    else if (!shutter && !gain && !iris)
        mode = 0x0B; /* iris priority */
    else if (!shutter && gain && !iris)
        mode = 0x0D; /* bright */
    else
        return VISCA_ERR_PARAM2;
    return reply_byte(mode, reply, reply_length);
}

int visca_inq_zoom_parser(guint8** reply, gsize* reply_length)
{
    LOG_NAME();
    ViscaPosition pos;
    int ret = VISCA_ACTIONS->query_position(&pos);
    if (ret != 0)
        return ret;
    int z = pos.zoom;
    guint v;
    if (z < 1)
        v = 0; /* below the scale: widest */
    else if (z < 10000)
        v = (guint)(z - 1) * 16384u / 9998u;
    else if (z <= 19999)
        v = (guint)(z - 10000) * 15040u / 9999u + 16384u;
    else
        v = 0;
    visca_log_debug("%sCurrent position zoom: %d = 0x%04X", z, v);
    guint8 payload[4];
    put_nibbles(payload, v);
    return make_reply(payload, sizeof payload, reply, reply_length);
}

/* Degrees to signed 16-bit VISCA steps, saturating outside the 16-bit range. */
static guint angle_to_steps(double angle)
{
    if (angle > 180.0)
        angle -= 360.0;
    double steps = angle * 51.2;
    if (!(steps > -32768.0))
        steps = -32768.0;
    if (steps > 32767.0)
        steps = 32767.0;
    return (guint)(gint16)(int)steps & 0xFFFFu;
}

int visca_inq_pantilt_drive_position_parser(guint8** reply, gsize* reply_length)
{
    LOG_NAME();
    ViscaPosition pos;
    int ret = VISCA_ACTIONS->query_position(&pos);
    if (ret != 0)
        return ret;
    guint pan = angle_to_steps(pos.pan), tilt = angle_to_steps(pos.tilt);
    visca_log_debug("%sCurrent position pan: %f = 0x%04X, tilt: %f = 0x%04X", pos.pan, pan,
                    pos.tilt, tilt);
    guint8 payload[8];
    put_nibbles(payload, pan);
    put_nibbles(payload + 4, tilt);
    return make_reply(payload, sizeof payload, reply, reply_length);
}

int visca_inq_power_parser(guint8** reply, gsize* reply_length)
{
    LOG_NAME();
    return reply_byte(0x02, reply, reply_length); /* always on */
}

int visca_inq_back_light_parser(guint8** reply, gsize* reply_length)
{
    LOG_NAME();
    return boolean_reply(VISCA_PROXY_PTZ_DRIVER, "VariousBackLight", reply, reply_length);
}

int visca_inq_focus_auto_focus_parser(guint8** reply, gsize* reply_length)
{
    LOG_NAME();
    return boolean_reply(VISCA_PROXY_PTZ_DRIVER, "VariousAutoFocus", reply, reply_length);
}

int visca_inq_spot_light_parser(guint8** reply, gsize* reply_length)
{
    LOG_NAME();
    return reply_byte(0x03, reply, reply_length);
}

int visca_inq_exposure_comp_parser(guint8** reply, gsize* reply_length)
{
    LOG_NAME();
    return reply_byte(0x03, reply, reply_length);
}

int visca_inq_menu_display_parser(guint8** reply, gsize* reply_length)
{
    LOG_NAME();
    return reply_byte(0x03, reply, reply_length); /* menu off */
}

/* DISPATCH */

static int inq_camera(guint8 inquiry, guint8** reply, gsize* reply_length)
{
    switch (inquiry) {
    case 0x00:
        return visca_inq_power_parser(reply, reply_length);
    case 0x33:
        return visca_inq_back_light_parser(reply, reply_length);
    case 0x35:
        return visca_inq_white_balance_parser(reply, reply_length);
    case 0x38:
        return visca_inq_focus_auto_focus_parser(reply, reply_length);
    case 0x39:
        return visca_inq_auto_exposure_parser(reply, reply_length);
    case 0x3A:
        return visca_inq_spot_light_parser(reply, reply_length);
    case 0x3E:
        return visca_inq_exposure_comp_parser(reply, reply_length);
    case 0x47:
        return visca_inq_zoom_parser(reply, reply_length);
    default:
        return VISCA_ERR_UNSUPPORTED;
    }
}

static int inq_pantilt(guint8 inquiry, guint8** reply, gsize* reply_length)
{
    switch (inquiry) {
    case 0x06:
        return visca_inq_menu_display_parser(reply, reply_length);
    case 0x12:
        return visca_inq_pantilt_drive_position_parser(reply, reply_length);
    default:
        return VISCA_ERR_UNSUPPORTED;
    }
}

int visca_inq_parser(const guint8* packet, gsize length, guint8** reply, gsize* reply_length)
{
    *reply = NULL;
    *reply_length = 0;
    int ret = visca_parser_check_header(packet, length, VISCA_TYPE_INQUIRY);
    if (ret != VISCA_OK)
        return ret;
    switch (packet[2]) {
    case 0x00:
        if (length != 5)
            return VISCA_ERR_LENGTH;
        if (packet[3] != 0x02)
            return VISCA_ERR_UNSUPPORTED;
        return visca_inq_version_parser(reply, reply_length);
    case 0x04:
        if (length != 5 && length != 7)
            return VISCA_ERR_LENGTH;
        return inq_camera(packet[3], reply, reply_length);
    case 0x06:
        if (length != 5 && length != 7)
            return VISCA_ERR_LENGTH;
        return inq_pantilt(packet[3], reply, reply_length);
    default:
        return VISCA_ERR_UNSUPPORTED;
    }
}
