#pragma once

#include <glib.h>

G_BEGIN_DECLS

#define VISCA_ASSEMBLER_SIZE 256

/*
 * Cuts a serial byte stream into VISCA packets. A packet starts at a header
 * byte (0x81..0x88 or 0x90..0xF0) and ends at the terminator 0xFF; bytes
 * outside a packet are dropped, and so is a packet that grows beyond 255
 * bytes. A header byte inside a packet starts the packet afresh: payload
 * bytes of VISCA packets are all below 0x80, so such a byte means the bytes
 * before it were noise or the rest of a lost packet.
 */
typedef struct {
    guint8 buf[VISCA_ASSEMBLER_SIZE];
    gsize count;
    gboolean in_packet;
} ViscaAssembler;

typedef void (*ViscaPacketFunc)(const guint8* packet, gsize length, gpointer user_data);

gboolean visca_is_header_byte(guint8 byte);
void visca_assembler_reset(ViscaAssembler* assembler);
/* Feeds bytes; `func` is called for every packet completed by them. */
void visca_assembler_feed(ViscaAssembler* assembler, const guint8* data, gsize length,
                          ViscaPacketFunc func, gpointer user_data);

G_END_DECLS
