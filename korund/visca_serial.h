#pragma once

#include <glib.h>

#include "visca_assembler.h"

G_BEGIN_DECLS

/* The two serial lines: input from the controller, output to the next device. */
typedef struct {
    GIOChannel* in_channel;
    GIOChannel* out_channel;
    int in_fd;
    int out_fd;
    guint in_watch;
    guint out_watch;
    gboolean open;
    ViscaAssembler in_assembler;
    ViscaAssembler out_assembler;
} ViscaSerial;

extern ViscaSerial visca_serial;

/*
 * Opens both ports (input first) raw at `baud` and watches them on the
 * default main context. 0, or -2 a device cannot be opened, -5 unsupported
 * baud rate, -6 channel creation failed, -7 the raw encoding cannot be set.
 * Nothing stays open on failure.
 */
int openSerial(const char* in_path, const char* out_path, int baud);
void closeSerial(void);

/*
 * Handles bytes as read from the input or the output port (exposed for
 * tests; the watches call them).
 */
void visca_serial_input_bytes(const guint8* data, gsize length);
void visca_serial_output_bytes(const guint8* data, gsize length);

G_END_DECLS
