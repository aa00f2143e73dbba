#pragma once

#include <glib.h>

G_BEGIN_DECLS

/*
 * Where an absolute path of the daemon lives on this machine: under $CAMROOT
 * when that is set and not empty (tests, the simulated camera), else as is.
 * Returns a newly allocated string.
 */
char* korund_path_resolve(const char* path);

G_END_DECLS
