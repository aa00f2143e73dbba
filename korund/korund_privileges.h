#pragma once

#include <glib.h>

G_BEGIN_DECLS

/* Switches group, supplementary groups and user to those of `user`. 0 or -1. */
int korund_drop_privileges(const char* user);

G_END_DECLS
