#pragma once

#include <glib.h>

G_BEGIN_DECLS

/*
 * Brings the open transports in line with the configuration: only when the
 * service is enabled, VISCA over IP opens both UDP ports (closing serial),
 * VISCA over serial opens the serial ports (closing UDP; reopening them when
 * restart_serial), interface none closes everything. Returns 0, or the
 * failing open's negative code.
 */
int reconfigure(gboolean restart_serial);

/* Closes every transport. */
void korund_transport_close_all(void);

/* Serial device paths used by reconfigure. */
void korund_transport_set_serial_paths(const char* in_path, const char* out_path);

G_END_DECLS
