#include "zolog.h"

#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>
#include <unistd.h>

/* SINK STATE (guarded by sink_lock) */

typedef enum {
    ZO_SINK_NONE,
    ZO_SINK_SYSLOG,
    ZO_SINK_STDOUT,
} ZoSink;

static GMutex sink_lock;
static ZoSink sink = ZO_SINK_NONE;
static gboolean echo_stderr = FALSE;
static gboolean debug_enabled = FALSE;
/* openlog() keeps the pointer: the identity must outlive the process's use. */
static char* syslog_ident = NULL;

static int zo_priority(GLogLevelFlags level)
{
    if (level & (G_LOG_LEVEL_ERROR | ZO_LOG_LEVEL_ERROR))
        return LOG_ERR;
    if (level & G_LOG_LEVEL_CRITICAL)
        return LOG_CRIT;
    if (level & G_LOG_LEVEL_WARNING)
        return LOG_WARNING;
    if (level & G_LOG_LEVEL_MESSAGE)
        return LOG_NOTICE;
    if (level & G_LOG_LEVEL_INFO)
        return LOG_INFO;
    if (level & G_LOG_LEVEL_DEBUG)
        return LOG_DEBUG;
    return LOG_NOTICE;
}

static const char* zo_level_name(int priority)
{
    switch (priority) {
    case LOG_ERR:
        return "error";
    case LOG_CRIT:
        return "critical";
    case LOG_WARNING:
        return "warning";
    case LOG_INFO:
        return "info";
    case LOG_DEBUG:
        return "debug";
    default:
        return "message";
    }
}

static void zo_write_line(FILE* out, const char* domain, int priority, const char* message)
{
    /* One fprintf per line so that concurrent writers do not interleave. */
    fprintf(out, "%s%s%s: %s\n", domain ? domain : "", domain ? "-" : "", zo_level_name(priority),
            message ? message : "");
    fflush(out);
}

static void zo_log_handler(const gchar* domain, GLogLevelFlags level, const gchar* message,
                           gpointer user_data)
{
    (void)user_data;
    int priority = zo_priority(level);

    g_mutex_lock(&sink_lock);
    if ((priority == LOG_INFO || priority == LOG_DEBUG) && !debug_enabled) {
        g_mutex_unlock(&sink_lock);
        return;
    }
    switch (sink) {
    case ZO_SINK_SYSLOG:
        syslog(priority, "%s", message ? message : "");
        if (echo_stderr)
            zo_write_line(stderr, domain, priority, message);
        break;
    case ZO_SINK_STDOUT:
        zo_write_line(stdout, domain, priority, message);
        break;
    case ZO_SINK_NONE:
        break;
    }
    g_mutex_unlock(&sink_lock);
}

/* SET-UP */

void zo_log_syslog(const char* ident)
{
    const char* echo = getenv("ZOLOG_ECHO");

    g_mutex_lock(&sink_lock);
    if (sink == ZO_SINK_SYSLOG)
        closelog();
    g_free(syslog_ident);
    syslog_ident = g_strdup(ident != NULL ? ident : g_get_prgname());
    openlog(syslog_ident, LOG_PID, LOG_DAEMON);
    echo_stderr = (echo != NULL && echo[0] != '\0') || access("/dev/log", F_OK) != 0;
    sink = ZO_SINK_SYSLOG;
    g_mutex_unlock(&sink_lock);
    g_log_set_default_handler(zo_log_handler, NULL);
}

void zo_log_stdout(void)
{
    g_mutex_lock(&sink_lock);
    if (sink == ZO_SINK_SYSLOG)
        closelog();
    sink = ZO_SINK_STDOUT;
    g_mutex_unlock(&sink_lock);
    g_log_set_default_handler(zo_log_handler, NULL);
}

void zo_log_set_debug(gboolean enabled)
{
    g_mutex_lock(&sink_lock);
    debug_enabled = enabled;
    g_mutex_unlock(&sink_lock);
}
