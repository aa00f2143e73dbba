/* Camera commands: 8x 01 04 <command> <parameters> FF. */
#include <string.h>

#include "visca_cmd_internal.h"
#include "visca_log.h"
#include "visca_tables.h"

#define LOG_NAME() visca_log_debug("%s%s", G_STRFUNC)

/* Parameter bytes start after 8x 01 04 <command>. */
#define P(i) (packet[4 + (i)])

/* DISPATCH */

int visca_cmd_parser_cam(const guint8* packet, gsize length)
{
    switch (packet[3]) {
    case 0x00:
        return visca_power_parser(packet, length);
    case 0x01:
        return visca_icr_parser(packet, length);
    case 0x03:
        return visca_r_gain_relative_parser(packet, length);
    case 0x04:
        return visca_b_gain_relative_parser(packet, length);
    case 0x07:
        return visca_zoom_cont_parser(packet, length);
    case 0x08:
        return visca_focus_cont_parser(packet, length);
    case 0x0A:
        return visca_shutter_relative_parser(packet, length);
    case 0x0B:
        return visca_iris_relative_parser(packet, length);
    case 0x0C:
        return visca_gain_relative_parser(packet, length);
    case 0x10:
        return visca_white_balance_one_push_parser(packet, length);
    case 0x18:
        return visca_focus_one_push_parser(packet, length);
    case 0x21:
        return visca_icr_auto_threshold_parser(packet, length);
    case 0x28:
        return visca_focus_near_limit_parser(packet, length);
    case 0x2C:
        return visca_gain_limit_parser(packet, length);
    case 0x33:
        return visca_back_light_parser(packet, length);
    case 0x34:
        return visca_stabilizer_parser(packet, length);
    case 0x35:
        return visca_white_balance_parser(packet, length);
    case 0x38:
        return visca_focus_auto_focus_parser(packet, length);
    case 0x39:
        return visca_auto_exposure_parser(packet, length);
    case 0x3F:
        return visca_memory_parser(packet, length);
    case 0x43:
        return visca_r_gain_direct_parser(packet, length);
    case 0x44:
        return visca_b_gain_direct_parser(packet, length);
    case 0x47:
        return visca_zoom_direct_parser(packet, length);
    case 0x48:
        return visca_focus_direct_parser(packet, length);
    case 0x4A:
        return visca_shutter_direct_parser(packet, length);
    case 0x4B:
        return visca_iris_direct_parser(packet, length);
    case 0x4C:
        return visca_gain_direct_parser(packet, length);
    case 0x51:
        return visca_icr_auto_parser(packet, length);
    default:
        return VISCA_ERR_UNSUPPORTED; /* includes 0x0D, 0x4D, 0x58 */
    }
}

/* POWER AND IR-CUT FILTER */

int visca_power_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    switch (P(0)) {
    case 0x02:
        return VISCA_OK; /* always on */
    case 0x03:
        return VISCA_ERR_UNSUPPORTED;
    default:
        return VISCA_ERR_PARAM2;
    }
}

/* 02 sets the IR-cut filter to `on_value`, 03 puts the filter in ("yes"). */
static int set_ir_cut_filter(guint8 byte, const char* on_value)
{
    if (byte != 0x02 && byte != 0x03)
        return VISCA_ERR_PARAM;
    return VISCA_ACTIONS->set_bytestring(VISCA_PROXY_IMAGE, "IrCutFilter",
                                         byte == 0x02 ? on_value : "yes");
}

int visca_icr_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return set_ir_cut_filter(P(0), "no"); /* filter removed: night mode */
}

int visca_icr_auto_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return set_ir_cut_filter(P(0), "auto");
}

int visca_icr_auto_threshold_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    guint v = visca_nibbles(&P(2), 2);
    if (v >= 29)
        return VISCA_ERR_PARAM2;
    gint32 hysteresis = (gint32)(v * 100 / 28);
    visca_log_debug("%sIR-cut filter hysteresis: %d", hysteresis);
    return VISCA_ACTIONS->set_int(VISCA_PROXY_IMAGE, "AutoIrCutFilterHysteresis", hysteresis);
}

/* Writes table[index] to an int property; a missing entry is a parameter error. */
static int set_from_table(int proxy, const char* property, const gint32* table, guint size,
                          guint index)
{
    if (index >= size || table[index] < 0)
        return VISCA_ERR_PARAM2;
    return VISCA_ACTIONS->set_int(proxy, property, table[index]);
}

/* ZOOM AND FOCUS */

/*
 * Continuous speed byte shared by zoom and focus: 00 stop, 02 / 03 standard
 * speed, 2p / 3p variable speed p 0..7. Returns FALSE for anything else.
 */
static gboolean decode_cont_speed(guint8 byte, int* value, gboolean* positive)
{
    *positive = TRUE;
    switch (byte) {
    case 0x00:
        *value = 0;
        return TRUE;
    case 0x02:
        *value = 100;
        return TRUE;
    case 0x03:
        *value = -100;
        *positive = FALSE;
        return TRUE;
    default:
        break;
    }
    guint8 kind = byte & 0xF0, p = byte & 0x0F;
    if ((kind != 0x20 && kind != 0x30) || (p & 0x08))
        return FALSE;
    int speed = (int)((p + 1) * 12.5);
    *positive = kind == 0x20;
    *value = *positive ? speed : -speed;
    return TRUE;
}

int visca_zoom_cont_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    int zoom;
    gboolean tele;
    if (!decode_cont_speed(P(0), &zoom, &tele))
        return VISCA_ERR_PARAM2;
    visca_log_debug("%sMove zoom: %c:%d", zoom == 0 ? '-' : (tele ? 't' : 'w'), zoom);
    return VISCA_ACTIONS->move_ptz(0.0, VISCA_MODE_NONE, 0.0, VISCA_MODE_NONE, zoom,
                                   VISCA_MODE_CONTINUOUS, 0);
}

int visca_zoom_direct_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    guint v = visca_nibbles(&P(0), 4);
    int zoom;
    if (v <= 16384)
        zoom = (int)(v * 9998u / 16384u + 1);
    else if (v < 31425)
        zoom = (int)((v - 16384u) * 9999u / 15040u + 10000);
    else
        return VISCA_ERR_PARAM2;
    visca_log_debug("%sMove zoom: %d", zoom);
    return VISCA_ACTIONS->move_ptz(0.0, VISCA_MODE_NONE, 0.0, VISCA_MODE_NONE, zoom,
                                   VISCA_MODE_ABSOLUTE, 0);
}

int visca_focus_cont_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    int focus;
    gboolean far;
    if (!decode_cont_speed(P(0), &focus, &far))
        return VISCA_ERR_PARAM2;
    visca_log_debug("%sMove focus %c:%d", focus == 0 ? 's' : (far ? 'f' : 'n'), focus);
    return VISCA_ACTIONS->move_focus(focus, VISCA_MODE_CONTINUOUS);
}

int visca_focus_direct_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    guint v = visca_nibbles(&P(0), 4);
    if (v < 0x1000 || v > 0xF000)
        return VISCA_ERR_PARAM2;
    int focus = (int)((v - 4096u) * 9998u / 57344u + 1);
    visca_log_debug("%sMove focus: %d", focus);
    return VISCA_ACTIONS->move_focus(focus, VISCA_MODE_ABSOLUTE);
}

int visca_focus_auto_focus_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    gboolean on;
    switch (P(0)) {
    case 0x02:
        on = TRUE;
        break;
    case 0x03:
        on = FALSE;
        break;
    case 0x10:
        if (VISCA_ACTIONS->get_boolean(VISCA_PROXY_PTZ_DRIVER, "VariousAutoFocus", &on) != 0)
            return VISCA_ERR_VALUE;
        on = !on;
        break;
    default:
        return VISCA_ERR_PARAM;
    }
    return VISCA_ACTIONS->set_boolean(VISCA_PROXY_PTZ_DRIVER, "VariousAutoFocus", on);
}

int visca_focus_one_push_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    if (P(0) != 0x01)
        return VISCA_ERR_PARAM2;
    const ViscaActions* a = VISCA_ACTIONS;
    int ret = a->set_boolean(VISCA_PROXY_PTZ_DRIVER, "VariousAutoFocus", FALSE);
    if (ret == 0)
        ret = a->set_bytestring(VISCA_PROXY_IMAGE, "FocusManualMode", "manual");
    if (ret == 0)
        ret = a->set_bytestring(VISCA_PROXY_IMAGE, "FocusManualMode", "push");
    return ret;
}

int visca_focus_near_limit_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return set_from_table(VISCA_PROXY_PTZ_DRIVER, "LimitMinFocus", visca_focus_near_limit_table,
                          VISCA_FOCUS_NEAR_LIMIT_TABLE_SIZE, P(0));
}

/* WHITE BALANCE */

int visca_white_balance_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    static const char* const modes[] = {"auto", "fixed_indoor", "fixed_outdoor1",
                                        NULL,   "auto_outdoor", "onepush"};
    guint8 p = P(0);
    if (p >= G_N_ELEMENTS(modes) || modes[p] == NULL)
        return VISCA_ERR_PARAM;
    return VISCA_ACTIONS->set_bytestring(VISCA_PROXY_IMAGE, "WhiteBalance", modes[p]);
}

int visca_white_balance_one_push_parser(const guint8* packet, gsize length)
{
    (void)packet;
    (void)length;
    LOG_NAME();
    int ret = VISCA_ACTIONS->set_bytestring(VISCA_PROXY_IMAGE, "WhiteBalance", "onepush");
    return ret != 0 ? ret : VISCA_ACTIONS->auxiliary("wbonep");
}

static int colour_gain_relative(const char* property, guint8 direction)
{
    if (direction != 0x00 && direction != 0x02 && direction != 0x03)
        return VISCA_ERR_PARAM;
    const ViscaActions* a = VISCA_ACTIONS;
    /* The balance values are only writable in one-push mode; a failure here
     * shows in the write below. */
    (void)a->set_bytestring(VISCA_PROXY_IMAGE, "WhiteBalance", "onepush");
    gint32 value = 50;
    if (direction != 0x00) {
        int ret = a->get_int(VISCA_PROXY_IMAGE, property, &value);
        if (ret != 0)
            return ret;
        if (direction == 0x02)
            value = value >= 98 ? 100 : value + 2;
        else
            value = value <= 2 ? 0 : value - 2;
    }
    return a->set_int(VISCA_PROXY_IMAGE, property, value);
}

int visca_r_gain_relative_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return colour_gain_relative("RedBalance", P(0));
}

int visca_b_gain_relative_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return colour_gain_relative("BlueBalance", P(0));
}

static int colour_gain_direct(const char* property, const guint8* packet)
{
    gint32 value = (gint32)(visca_nibbles(&P(2), 2) * 100 / 255);
    int ret = VISCA_ACTIONS->set_bytestring(VISCA_PROXY_IMAGE, "WhiteBalance", "onepush");
    return ret != 0 ? ret : VISCA_ACTIONS->set_int(VISCA_PROXY_IMAGE, property, value);
}

int visca_r_gain_direct_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return colour_gain_direct("RedBalance", packet);
}

int visca_b_gain_direct_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return colour_gain_direct("BlueBalance", packet);
}

/* EXPOSURE */

int visca_auto_exposure_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    gboolean shutter, gain, iris;
    switch (P(0)) {
    case 0x00:
        shutter = FALSE, gain = FALSE, iris = TRUE;
        break; /* full auto */
    case 0x03:
        shutter = TRUE, gain = TRUE, iris = FALSE;
        break; /* manual */
    case 0x0A:
        shutter = TRUE, gain = FALSE, iris = TRUE;
        break; /* shutter priority */
    case 0x0B:
        shutter = FALSE, gain = FALSE, iris = FALSE;
        break; /* iris priority */
    case 0x0D:
        shutter = FALSE, gain = TRUE, iris = FALSE;
        break; /* bright */
    default:
        shutter = TRUE, gain = TRUE, iris = TRUE;
        break;
    }
    const ViscaActions* a = VISCA_ACTIONS;
    int ret = a->set_bytestring(VISCA_PROXY_IMAGE, "ManualShutterControl", shutter ? "yes" : "no");
    if (ret == 0)
        ret = a->set_bytestring(VISCA_PROXY_IMAGE, "ManualGainControl", gain ? "yes" : "no");
    if (ret == 0)
        ret = a->set_bytestring(VISCA_PROXY_IMAGE, "IrisEnabled", iris ? "yes" : "no");
    return ret;
}

/* The shutter table of the current mains frequency (CaptureFrequency). */
static int shutter_table(const gint32** table)
{
    char* freq = NULL;
    int ret = VISCA_ACTIONS->get_bytestring(VISCA_PROXY_IMAGE, "CaptureFrequency", &freq);
    if (ret != 0)
        return ret;
    if (g_strcmp0(freq, "50Hz") == 0)
        *table = visca_shutter_table_50hz;
    else if (g_strcmp0(freq, "60Hz") == 0)
        *table = visca_shutter_table_60hz;
    else
        ret = VISCA_ERR_VALUE;
    g_free(freq);
    return ret;
}

int visca_step_shutter(const gint32* table, gint32 current, guint8 direction, gint32* next)
{
    int k = 0;
    while (k + 1 < VISCA_SHUTTER_TABLE_SIZE && table[k + 1] >= current)
        k++;
    if (direction == 0x02) {
        if (k + 1 >= VISCA_SHUTTER_TABLE_SIZE)
            return FALSE; /* already the fastest */
        *next = table[k + 1];
    } else {
        *next = table[k > 0 ? k - 1 : 0];
    }
    return TRUE;
}

int visca_shutter_relative_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    guint8 direction = P(0);
    const ViscaActions* a = VISCA_ACTIONS;
    if (direction == 0x00)
        return a->set_int(VISCA_PROXY_IMAGE, "ManualShutter", -1);
    if (direction != 0x02 && direction != 0x03)
        return VISCA_ERR_PARAM;

    const gint32* table;
    int ret = shutter_table(&table);
    if (ret != 0)
        return ret;
    gint32 current;
    ret = a->get_int(VISCA_PROXY_IMAGE, "ManualShutter", &current);
    if (ret != 0)
        return ret;
    if (current < 0) {
        /* A negative value is a frame-time setting: convert it to microseconds
         * from the sensor frame rate (in thousandths of frames per second). */
        gint32 fps;
        ret = a->get_stream_int(VISCA_PROXY_IMAGE, "SensorMaxFramerate", &fps);
        if (ret != 0)
            return ret;
        if (fps / 1000 <= 0)
            return VISCA_ERR_VALUE;
        gint64 us = -((gint64)current * 1000000) / (fps / 1000);
        current = (gint32)MIN(us, G_MAXINT32);
        visca_log_debug("%sCalculate shutter speed to %dus based on fps %d", current, fps);
    }
    gint32 next;
    if (!visca_step_shutter(table, current, direction, &next))
        return VISCA_OK;
    return a->set_int(VISCA_PROXY_IMAGE, "ManualShutter", next);
}

int visca_shutter_direct_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    guint index = visca_nibbles(&P(2), 2);
    if (index >= VISCA_SHUTTER_TABLE_SIZE)
        return VISCA_OK; /* nothing to change */
    const gint32* table;
    int ret = shutter_table(&table);
    if (ret != 0)
        return ret;
    if (table[index] < 0)
        return VISCA_OK;
    return VISCA_ACTIONS->set_int(VISCA_PROXY_IMAGE, "ManualShutter", table[index]);
}

int visca_step_table(const gint32* table, int size, gint32 current, guint8 direction, gint32* next)
{
    int i = 1;
    while (i < size && (table[i] < 0 || table[i] != current))
        i++;
    if (i >= size) {
        *next = current; /* unknown value: written back unchanged */
        return TRUE;
    }
    int j = direction == 0x02 ? i + 1 : i - 1;
    if (j >= size || table[j] < 0)
        return FALSE;
    *next = table[j];
    return TRUE;
}

static int step_property(const char* property, const gint32* table, int size, gint32 reset,
                         guint8 direction)
{
    const ViscaActions* a = VISCA_ACTIONS;
    if (direction == 0x00)
        return a->set_int(VISCA_PROXY_IMAGE, property, reset);
    if (direction != 0x02 && direction != 0x03)
        return VISCA_ERR_PARAM;
    gint32 current, next;
    int ret = a->get_int(VISCA_PROXY_IMAGE, property, &current);
    if (ret != 0)
        return ret;
    if (!visca_step_table(table, size, current, direction, &next))
        return VISCA_OK;
    return a->set_int(VISCA_PROXY_IMAGE, property, next);
}

int visca_iris_relative_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return step_property("IrisPosition", visca_iris_table, VISCA_IRIS_TABLE_SIZE, 97, P(0));
}

int visca_iris_direct_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return set_from_table(VISCA_PROXY_IMAGE, "IrisPosition", visca_iris_table,
                          VISCA_IRIS_TABLE_SIZE, visca_nibbles(&P(2), 2));
}

int visca_gain_relative_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return step_property("ManualGain", visca_gain_table, VISCA_GAIN_TABLE_SIZE, 1, P(0));
}

int visca_gain_direct_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return set_from_table(VISCA_PROXY_IMAGE, "ManualGain", visca_gain_table, VISCA_GAIN_TABLE_SIZE,
                          visca_nibbles(&P(2), 2));
}

int visca_gain_limit_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return set_from_table(VISCA_PROXY_IMAGE, "MaxGain", visca_gain_limit_table,
                          VISCA_GAIN_LIMIT_TABLE_SIZE, P(0));
}

/* OTHER PICTURE SETTINGS */

int visca_back_light_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    if (P(0) != 0x02 && P(0) != 0x03)
        return VISCA_ERR_PARAM;
    return VISCA_ACTIONS->set_boolean(VISCA_PROXY_PTZ_DRIVER, "VariousBackLight", P(0) == 0x02);
}

int visca_stabilizer_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    if (P(0) != 0x02 && P(0) != 0x03)
        return VISCA_ERR_PARAM2;
    return VISCA_ACTIONS->set_bytestring(VISCA_PROXY_IMAGE, "Stabilizer",
                                         P(0) == 0x02 ? "on" : "off");
}

/* PRESETS */

int visca_memory_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    char name[32];
    g_snprintf(name, sizeof name, "VISCA preset - %02d", (P(1) & 0x0F) + 1);
    const ViscaActions* a = VISCA_ACTIONS;
    switch (P(0)) {
    case 0x00:
        visca_log_debug("%s'%s' preset '%s'", "RemovePresetName", name);
        return a->remove_preset_name(name);
    case 0x01:
        visca_log_debug("%s'%s' preset '%s'", "SetPresetName", name);
        return a->set_preset_name(name);
    case 0x02:
        visca_log_debug("%s'%s' preset '%s'", "GotoPresetName", name);
        return a->goto_preset_name(name);
    default:
        return VISCA_ERR_PARAM2;
    }
}
