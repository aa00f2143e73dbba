#pragma once

#include <glib.h>

#include "visca_actions.h"

G_BEGIN_DECLS

/*
 * VISCA packet parsers. Each takes one complete packet (header byte to the
 * terminator 0xFF) and returns 0 or a negative code (visca_actions.h). They do
 * no I/O: camera effects go through the installed action table, and what is
 * to be sent is returned to the caller (the transport).
 *
 * Handling of one packet, in this order:
 *  1. header 0x88: visca_broadcast_handler();
 *  2. header 0x90..0xF0 and length >= 2: reply of another device, pass it on;
 *  3. type 0x01: visca_cmd_parser(); 0: send ACK then completion; -23: pass
 *     on; other: send the error reply;
 *  4. type 0x09: visca_inq_parser(); 0: send the reply; -23: pass on; other:
 *     send the error reply;
 *  5. otherwise send the error reply.
 * The reply templates live in visca_device (visca_device.h).
 */

#define VISCA_HEADER_BROADCAST 0x88
#define VISCA_TYPE_COMMAND 0x01
#define VISCA_TYPE_INQUIRY 0x09
#define VISCA_TYPE_ADDRESS_SET 0x30
#define VISCA_TERMINATOR 0xFF
#define VISCA_MAX_PACKET 256

/* What handling one packet asks the transport to do. */
typedef enum {
    VISCA_PACKET_BROADCAST, /* visca_broadcast_handler() */
    VISCA_PACKET_REPLY,     /* reply of another device: pass on unchanged */
    VISCA_PACKET_COMMAND,   /* visca_cmd_parser() */
    VISCA_PACKET_INQUIRY,   /* visca_inq_parser() */
    VISCA_PACKET_UNKNOWN,   /* answer with the error reply */
} ViscaPacketKind;

/* Classifies one complete packet by its header and type bytes. */
ViscaPacketKind visca_packet_kind(const guint8* packet, gsize length);

/*
 * Broadcast packets (header 0x88). IF_clear is ignored; address set takes the
 * address when valid. When *pass_on_length is non-zero on return, pass_on
 * (at least `length` bytes) holds the packet to pass to the next device.
 */
int visca_broadcast_handler(const guint8* packet, gsize length, guint8* pass_on,
                            gsize* pass_on_length);

/* Commands (type 0x01). */
int visca_cmd_parser(const guint8* packet, gsize length);

/*
 * Inquiries (type 0x09). On success *reply is a newly allocated reply packet
 * of *reply_length bytes (free it with g_free); otherwise it is NULL.
 */
int visca_inq_parser(const guint8* packet, gsize length, guint8** reply, gsize* reply_length);

G_END_DECLS
