#include "visca_tables.h"

const float visca_speed_table[VISCA_SPEED_TABLE_SIZE] = {
    0.0f,  0.2f,  0.33f, 0.52f, 0.82f, 1.25f, 2.0f,  2.9f,  3.8f,  6.0f,  8.0f,  11.0f, 14.0f,
    18.0f, 22.0f, 27.0f, 33.0f, 40.0f, 47.0f, 54.0f, 63.0f, 72.0f, 81.0f, 91.0f, 100.0f};

const gint32 visca_shutter_table_50hz[VISCA_SHUTTER_TABLE_SIZE] = {
    1000000, 500000, 333333, 166666, 83333, 40000, 20000, 13333, 10000, 8333, 6666,
    4651,    3333,   2352,   1666,   1000,  800,   571,   400,   285,   166,  100};

const gint32 visca_shutter_table_60hz[VISCA_SHUTTER_TABLE_SIZE] = {
    1000000, 500000, 250000, 125000, 66666, 33333, 16666, 11111, 10000, 8000, 5555,
    4000,    2857,   2000,   1379,   1000,  666,   500,   333,   250,   166,  100};

const gint32 visca_focus_near_limit_table[VISCA_FOCUS_NEAR_LIMIT_TABLE_SIZE] = {
    -1, 9229, 9229, 8460, 7691, 6922, 6153, 5384, 4615, 3846, 3077, 2308, 1539, 770, 1, 1};

const gint32 visca_iris_table[VISCA_IRIS_TABLE_SIZE] = {-1, -1, -1, -1, -1, 2,  8,  16, 25,
                                                        33, 41, 54, 58, 66, 75, 83, 92, 97};

const gint32 visca_gain_table[VISCA_GAIN_TABLE_SIZE] = {-1, 1,  7,  14, 21, 28, 36, 43,
                                                        50, 57, 64, 71, 78, 86, 93, 98};

const gint32 visca_gain_limit_table[VISCA_GAIN_LIMIT_TABLE_SIZE] = {
    -1, -1, -1, -1, 2, 9, 18, 27, 36, 45, 55, 64, 73, 82, 91, 100};
