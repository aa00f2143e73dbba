#pragma once

#include <glib.h>

G_BEGIN_DECLS

#define KORUND_CGI_NAME "viscacontrol.cgi"

/* Error codes of the JSON API. */
enum {
    KORUND_CGI_INVALID_VALUE = 1000,
    KORUND_CGI_NO_MEMORY = 2000,
    KORUND_CGI_FORBIDDEN = 2001,
    KORUND_CGI_ONLY_POST = 2002,
    KORUND_CGI_BAD_VERSION = 2003,
    KORUND_CGI_BAD_METHOD = 2004,
    KORUND_CGI_INVALID_JSON = 4000,
    KORUND_CGI_MISSING = 4001,
    KORUND_CGI_WRONG_TYPE = 4002,
    KORUND_CGI_INTERNAL = 8000,
};

/* The message text of an error code ("" for an unknown one). */
const char* korund_cgi_error_message(int code);

/*
 * Answers one JSON request body of "viscacontrol.cgi" against korund_config,
 * changing the configuration for the set methods. Returns the reply object as
 * newly allocated JSON text (indented by 2).
 */
char* korund_cgi_handle_json(const char* body, gsize len);

/*
 * Finds the JSON body in the request text handed over by the web server's
 * relay: it starts one character after the name "viscacontrol.cgi". NULL when
 * the name is not there; the body may be empty.
 */
const char* korund_cgi_find_body(const char* request, gsize len, gsize* body_len);

/* The full HTTP answer for a request text (headers and reply); NULL when the
 * request is not for this service. */
char* korund_cgi_answer(const char* request, gsize len);

G_END_DECLS
