#pragma once

/* Library-internal helpers (hidden: built with -fvisibility=hidden). */

#include <glib.h>
#include <stddef.h>

#include "pavane/video_output.h"

G_BEGIN_DECLS

/* The transfer socket's path on the camera. */
#define PAVANE_TRANSFER_PATH "/run/pavane/transfer"
/* The CGI name the relay puts in front of the request body. */
#define PAVANE_CGI_NAME "videooutput2.cgi"
/* Largest request text taken from the transfer socket. */
#define PAVANE_REQUEST_MAX 4095
/* The library's own "error" log level (GLib log level value 256). */
#define PAVANE_LOG_LEVEL_ERROR (1 << G_LOG_LEVEL_USER_SHIFT)

/* `path` under $CAMROOT when that is set and not empty; newly allocated. */
char* pavane_path_resolve(const char* path);

/*
 * Checks `table` for the mandatory callbacks, enables the JSON methods of the
 * callbacks present (and disables the others) and stores the table in
 * `functions`. Returns 0 or 1 (mandatory callback missing; nothing changed).
 */
int pavane_api_set_table(const VideoOutputFunctions* table);

/*
 * Answers one request text as received on the transfer socket (CGI name,
 * separator byte, JSON body). Returns the full HTTP reply to write to the
 * client (newly allocated, *reply_len bytes), or NULL when the request is not
 * addressed to "videooutput2.cgi" and gets no answer.
 */
char* pavane_cgi_handle_request(const char* request, size_t len, size_t* reply_len);

/*
 * Writes all of `len` bytes to the client descriptor `fd`, waiting at most
 * `timeout_ms` in total for a slow reader. Returns TRUE when everything was
 * written.
 */
gboolean pavane_write_reply(int fd, const char* data, size_t len, int timeout_ms);

G_END_DECLS
