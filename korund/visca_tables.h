#pragma once

#include <glib.h>

G_BEGIN_DECLS

/* Fixed decoding tables; -1 marks an index that is not supported. */

#define VISCA_SPEED_TABLE_SIZE 25
#define VISCA_SHUTTER_TABLE_SIZE 22
#define VISCA_FOCUS_NEAR_LIMIT_TABLE_SIZE 16
#define VISCA_IRIS_TABLE_SIZE 18
#define VISCA_GAIN_TABLE_SIZE 16
#define VISCA_GAIN_LIMIT_TABLE_SIZE 16

/* Pan/tilt speed in percent, index 0x00..0x18. */
extern const float visca_speed_table[VISCA_SPEED_TABLE_SIZE];
/* Shutter times in microseconds for 50 Hz and 60 Hz mains. */
extern const gint32 visca_shutter_table_50hz[VISCA_SHUTTER_TABLE_SIZE];
extern const gint32 visca_shutter_table_60hz[VISCA_SHUTTER_TABLE_SIZE];
extern const gint32 visca_focus_near_limit_table[VISCA_FOCUS_NEAR_LIMIT_TABLE_SIZE];
/* Iris position, gain and gain limit in percent. */
extern const gint32 visca_iris_table[VISCA_IRIS_TABLE_SIZE];
extern const gint32 visca_gain_table[VISCA_GAIN_TABLE_SIZE];
extern const gint32 visca_gain_limit_table[VISCA_GAIN_LIMIT_TABLE_SIZE];

G_END_DECLS
