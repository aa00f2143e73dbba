#pragma once

#include <glib.h>

#include "visca_actions.h"

G_BEGIN_DECLS

/*
 * Sub-parsers of visca_cmd_parser(). Each takes the whole packet, whose
 * length has already been checked for its command, and returns 0 or a
 * negative code.
 */

#define VISCA_ACTIONS (visca_actions_get())

/* Value of the low nibbles of `count` consecutive bytes, most significant first. */
static inline guint visca_nibbles(const guint8* bytes, int count)
{
    guint v = 0;
    for (int i = 0; i < count; i++)
        v = (v << 4) | (bytes[i] & 0x0Fu);
    return v;
}

/* Four nibbles as a signed 16-bit value. */
static inline int visca_signed16(const guint8* bytes)
{
    guint v = visca_nibbles(bytes, 4);
    return v >= 0x8000u ? (int)v - 0x10000 : (int)v;
}

/* Camera commands (8x 01 04 ...). */
int visca_parser_length_cam(const guint8* packet, gsize length);
int visca_cmd_parser_cam(const guint8* packet, gsize length);
int visca_power_parser(const guint8* packet, gsize length);
int visca_icr_parser(const guint8* packet, gsize length);
int visca_icr_auto_parser(const guint8* packet, gsize length);
int visca_icr_auto_threshold_parser(const guint8* packet, gsize length);
int visca_zoom_cont_parser(const guint8* packet, gsize length);
int visca_zoom_direct_parser(const guint8* packet, gsize length);
int visca_focus_cont_parser(const guint8* packet, gsize length);
int visca_focus_direct_parser(const guint8* packet, gsize length);
int visca_focus_auto_focus_parser(const guint8* packet, gsize length);
int visca_focus_one_push_parser(const guint8* packet, gsize length);
int visca_focus_near_limit_parser(const guint8* packet, gsize length);
int visca_white_balance_parser(const guint8* packet, gsize length);
int visca_white_balance_one_push_parser(const guint8* packet, gsize length);
int visca_r_gain_relative_parser(const guint8* packet, gsize length);
int visca_b_gain_relative_parser(const guint8* packet, gsize length);
int visca_r_gain_direct_parser(const guint8* packet, gsize length);
int visca_b_gain_direct_parser(const guint8* packet, gsize length);
int visca_auto_exposure_parser(const guint8* packet, gsize length);
int visca_shutter_relative_parser(const guint8* packet, gsize length);
int visca_shutter_direct_parser(const guint8* packet, gsize length);
int visca_iris_relative_parser(const guint8* packet, gsize length);
int visca_iris_direct_parser(const guint8* packet, gsize length);
int visca_gain_relative_parser(const guint8* packet, gsize length);
int visca_gain_direct_parser(const guint8* packet, gsize length);
int visca_gain_limit_parser(const guint8* packet, gsize length);
int visca_back_light_parser(const guint8* packet, gsize length);
int visca_stabilizer_parser(const guint8* packet, gsize length);
int visca_memory_parser(const guint8* packet, gsize length);

/*
 * Checks the first bytes common to commands and inquiries: at least five
 * bytes, addressed to this device (8x), of message type `type` (01 command,
 * 09 inquiry). VISCA_OK or the negative code to answer with.
 */
int visca_parser_check_header(const guint8* packet, gsize length, guint8 type);

/* Pan/tilt commands (8x 01 06 ...). */
int visca_parser_length_pt(const guint8* packet, gsize length);
int visca_cmd_parser_pt(const guint8* packet, gsize length);
int visca_pantilt_drive_cont_parser(const guint8* packet, gsize length);
int visca_pantilt_drive_direct_parser(const guint8* packet, gsize length);
int visca_pantilt_drive_relative_parser(const guint8* packet, gsize length);
int visca_pantilt_drive_home_parser(const guint8* packet, gsize length);
int visca_pantilt_drive_reset_parser(const guint8* packet, gsize length);
int visca_pantilt_limit_set_parser(const guint8* packet, gsize length);

/* Extended commands (8x 01 7E ...). */
int visca_parser_length_extended(const guint8* packet, gsize length);
int visca_extended_tally_parser(const guint8* packet, gsize length);

/*
 * Inquiry sub-parsers of visca_inq_parser(): each builds its newly allocated
 * reply (header 50 ... FF) or returns a negative code.
 */
int visca_inq_version_parser(guint8** reply, gsize* reply_length);
int visca_inq_power_parser(guint8** reply, gsize* reply_length);
int visca_inq_back_light_parser(guint8** reply, gsize* reply_length);
int visca_inq_white_balance_parser(guint8** reply, gsize* reply_length);
int visca_inq_focus_auto_focus_parser(guint8** reply, gsize* reply_length);
int visca_inq_auto_exposure_parser(guint8** reply, gsize* reply_length);
int visca_inq_spot_light_parser(guint8** reply, gsize* reply_length);
int visca_inq_exposure_comp_parser(guint8** reply, gsize* reply_length);
int visca_inq_zoom_parser(guint8** reply, gsize* reply_length);
int visca_inq_menu_display_parser(guint8** reply, gsize* reply_length);
int visca_inq_pantilt_drive_position_parser(guint8** reply, gsize* reply_length);

/*
 * Table stepping of the relative shutter, iris and gain commands.
 * Direction: 0x02 up, 0x03 down.
 */
int visca_step_table(const gint32* table, int size, gint32 current, guint8 direction, gint32* next);
int visca_step_shutter(const gint32* table, gint32 current, guint8 direction, gint32* next);

G_END_DECLS
