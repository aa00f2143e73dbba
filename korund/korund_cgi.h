#pragma once

#include <glib.h>

G_BEGIN_DECLS

#define KORUND_TRANSFER_SOCKET "/run/korund/transfer"
#define KORUND_CGI_GROUP "www"

/*
 * Opens the CGI transfer socket (taken over from the service manager when it
 * passed one, else created for user "ptzadm" and group "www") and watches it
 * on the default main context. 0 or -1.
 */
int korund_cgi_open(void);
void korund_cgi_close(void);

/* Answers one queued request on `sock` (exposed for tests). */
void korund_cgi_handle_request(int sock);

G_END_DECLS
