/* Pan/tilt commands (8x 01 06 ...) and the extended tally command (8x 01 7E ...). */
#include <math.h>

#include "visca_cmd_internal.h"
#include "visca_log.h"
#include "visca_tables.h"

#define LOG_NAME() visca_log_debug("%s%s", G_STRFUNC)

/* Parameter bytes start after 8x 01 06 <command>. */
#define P(i) (packet[4 + (i)])

/* VISCA angles are 1/51.2 degree steps. */
#define VISCA_STEPS_PER_DEGREE 51.2

/* DISPATCH */

int visca_cmd_parser_pt(const guint8* packet, gsize length)
{
    switch (packet[3]) {
    case 0x01:
        return visca_pantilt_drive_cont_parser(packet, length);
    case 0x02:
        return visca_pantilt_drive_direct_parser(packet, length);
    case 0x03:
        return visca_pantilt_drive_relative_parser(packet, length);
    case 0x04:
        return visca_pantilt_drive_home_parser(packet, length);
    case 0x05:
        return visca_pantilt_drive_reset_parser(packet, length);
    case 0x07:
        return visca_pantilt_limit_set_parser(packet, length);
    default:
        return VISCA_ERR_UNSUPPORTED;
    }
}

/*
 * Wraps an angle into [-180, 180]. The signed 16-bit VISCA range reaches
 * about +-640 degrees, so one turn of correction is not always enough.
 */
static double wrap_degrees(double angle)
{
    if (angle > 180.0 || angle < -180.0) {
        angle = fmod(angle, 360.0);
        if (angle > 180.0)
            angle -= 360.0;
        else if (angle < -180.0)
            angle += 360.0;
    }
    return angle;
}

/* Negation that never yields -0.0. */
static double negate(double v)
{
    return v == 0.0 ? 0.0 : -v;
}

/* CONTINUOUS, ABSOLUTE AND RELATIVE DRIVE */

int visca_pantilt_drive_cont_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    guint8 vv = P(0), ww = P(1);
    if (vv >= VISCA_SPEED_TABLE_SIZE || ww >= VISCA_SPEED_TABLE_SIZE)
        return VISCA_ERR_PARAM2;
    double pan = visca_speed_table[vv], tilt = visca_speed_table[ww];
    char pan_dir, tilt_dir;
    switch (P(2)) {
    case 0x01:
        pan = negate(pan), pan_dir = 'l';
        break;
    case 0x02:
        pan_dir = 'r';
        break;
    case 0x03:
        pan = 0.0, pan_dir = '-';
        break;
    default:
        return VISCA_ERR_PARAM2;
    }
    switch (P(3)) {
    case 0x01:
        tilt_dir = 'u';
        break;
    case 0x02:
        tilt = negate(tilt), tilt_dir = 'd';
        break;
    case 0x03:
        tilt = 0.0, tilt_dir = '-';
        break;
    default:
        return VISCA_ERR_PARAM2;
    }
    const ViscaActions* a = VISCA_ACTIONS;
    if (a->is_rotated()) {
        pan = negate(pan);
        tilt = negate(tilt);
    }
    visca_log_debug("%sMove pan: %c:%f, tilt: %c:%f", pan_dir, pan, tilt_dir, tilt);
    return a->move_ptz(pan, VISCA_MODE_CONTINUOUS, tilt, VISCA_MODE_CONTINUOUS, 0, VISCA_MODE_NONE,
                       0);
}

static int drive_position(const guint8* packet, int mode)
{
    guint8 vv = P(0), ww = P(1);
    if (vv >= VISCA_SPEED_TABLE_SIZE || ww >= VISCA_SPEED_TABLE_SIZE)
        return VISCA_ERR_PARAM2;
    int y = visca_signed16(&P(2)), z = visca_signed16(&P(6));
    double pan = wrap_degrees(y / VISCA_STEPS_PER_DEGREE);
    double tilt = wrap_degrees(z / VISCA_STEPS_PER_DEGREE);
    int speed = (int)visca_speed_table[MAX(vv, ww)];
    const ViscaActions* a = VISCA_ACTIONS;
    if (mode == VISCA_MODE_RELATIVE) {
        if (a->is_rotated()) {
            pan = negate(pan);
            tilt = negate(tilt);
        }
        visca_log_debug("%sRelative pan/tilt: pan: 0x%04X:%f, tilt: 0x%04X:%f, speed: %f",
                        (guint)y & 0xFFFFu, pan, (guint)z & 0xFFFFu, tilt, (double)speed);
    } else {
        visca_log_debug("%sAbsolute pan/tilt: pan: 0x%04X:%f, tilt: 0x%04X:%f, speed: %f",
                        (guint)y & 0xFFFFu, pan, (guint)z & 0xFFFFu, tilt, (double)speed);
    }
    return a->move_ptz(pan, mode, tilt, mode, 0, VISCA_MODE_NONE, speed);
}

int visca_pantilt_drive_direct_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return drive_position(packet, VISCA_MODE_ABSOLUTE);
}

int visca_pantilt_drive_relative_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    return drive_position(packet, VISCA_MODE_RELATIVE);
}

int visca_pantilt_drive_home_parser(const guint8* packet, gsize length)
{
    (void)packet;
    (void)length;
    LOG_NAME();
    return VISCA_ACTIONS->goto_home();
}

int visca_pantilt_drive_reset_parser(const guint8* packet, gsize length)
{
    (void)packet;
    (void)length;
    LOG_NAME();
    return VISCA_ACTIONS->auxiliary("reset");
}

/* LIMITS */

int visca_pantilt_limit_set_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    gboolean up_right = (P(1) & 0x01) != 0;
    int y = visca_signed16(&P(2)), z = visca_signed16(&P(6));
    int pan = (int)wrap_degrees((int)(y / VISCA_STEPS_PER_DEGREE));
    int tilt = (int)wrap_degrees((int)(z / VISCA_STEPS_PER_DEGREE));
    const char* corner = up_right ? "UpRight" : "DownLeft";
    visca_log_debug("%sLimit pan/tilt corner %s: pan: 0x%04X:%d, tilt: 0x%04X:%d", corner,
                    (guint)y & 0xFFFFu, pan, (guint)z & 0xFFFFu, tilt);
    const ViscaActions* a = VISCA_ACTIONS;
    int ret = a->set_int(VISCA_PROXY_PTZ_DRIVER, up_right ? "LimitMaxPan" : "LimitMinPan", pan);
    if (ret != 0)
        return ret;
    return a->set_int(VISCA_PROXY_PTZ_DRIVER, up_right ? "LimitMaxTilt" : "LimitMinTilt", tilt);
}

/* EXTENDED */

int visca_extended_tally_parser(const guint8* packet, gsize length)
{
    (void)length;
    LOG_NAME();
    /* 8x 01 7E 01 0A 00 0p FF */
    switch (packet[6]) {
    case 0x02:
        return VISCA_ACTIONS->set_string(VISCA_PROXY_LED, "TallyledUsage", "on");
    case 0x03:
        return VISCA_ACTIONS->set_string(VISCA_PROXY_LED, "TallyledUsage", "off");
    default:
        return VISCA_ERR_PARAM2;
    }
}
