#pragma once

#include <glib.h>

G_BEGIN_DECLS

/*
 * Logging of the VISCA bridge. Every format begins with "%s", filled with
 * VISCA_LOG_PREFIX. Debug and info output is written only when visca_debug_all
 * is set (option "debug-all"); the check happens before any formatting so the
 * packet path stays cheap.
 */
#define VISCA_LOG_PREFIX ""

extern gboolean visca_debug_all;

#define visca_log_debug(fmt, ...)                                                                  \
    do {                                                                                           \
        if (visca_debug_all)                                                                       \
            g_debug(fmt, VISCA_LOG_PREFIX, ##__VA_ARGS__);                                         \
    } while (0)

#define visca_log_info(fmt, ...)                                                                   \
    do {                                                                                           \
        if (visca_debug_all)                                                                       \
            g_info(fmt, VISCA_LOG_PREFIX, ##__VA_ARGS__);                                          \
    } while (0)

#define visca_log_message(fmt, ...) g_message(fmt, VISCA_LOG_PREFIX, ##__VA_ARGS__)
#define visca_log_warning(fmt, ...) g_warning(fmt, VISCA_LOG_PREFIX, ##__VA_ARGS__)

G_END_DECLS
