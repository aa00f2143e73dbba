#pragma once

/*
 * libzolog: where the GLib log calls of a platform service go.
 *
 * After one of the set-up calls every g_log() of the process (all domains,
 * through GLib's default handler) is written to the chosen sink. Levels map
 * to syslog priorities: error and ZO_LOG_LEVEL_ERROR -> LOG_ERR, critical ->
 * LOG_CRIT, warning -> LOG_WARNING, message -> LOG_NOTICE, info -> LOG_INFO,
 * debug -> LOG_DEBUG. Info and debug output is dropped unless enabled with
 * zo_log_set_debug().
 *
 * The set-up calls may be repeated (the last one wins) and are thread-safe.
 */

#include <glib.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The platform's own "error" level (GLib log level value 256). */
#define ZO_LOG_LEVEL_ERROR (1 << G_LOG_LEVEL_USER_SHIFT)

/*
 * Sends GLib log output to syslog (facility LOG_DAEMON) under `ident`
 * (NULL: the program name). When the machine has no syslog socket
 * ("/dev/log"), or ZOLOG_ECHO is set in the environment, every line is also
 * written to standard error so that it is not lost.
 */
void zo_log_syslog(const char* ident);

/* Sends GLib log output to standard output, one line per message. */
void zo_log_stdout(void);

/* Enables or disables info and debug output (default: disabled). */
void zo_log_set_debug(gboolean enabled);

#ifdef __cplusplus
}
#endif
