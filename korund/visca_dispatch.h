#pragma once

#include <glib.h>

G_BEGIN_DECLS

/* What a transport is asked to write, for its failure message. */
typedef enum {
    VISCA_SEND_ACK,
    VISCA_SEND_COMPLETION,
    VISCA_SEND_RESPONSE,    /* inquiry reply */
    VISCA_SEND_UNSUPPORTED, /* error reply */
    VISCA_SEND_PASS_ON,     /* packet for another device */
    VISCA_SEND_PASS_REPLY,  /* reply of another device */
    VISCA_SEND_SET_ID,      /* address set for the next device */
} ViscaSendKind;

/* Writes one packet; FALSE when the write failed. */
typedef gboolean (*ViscaSendFunc)(ViscaSendKind kind, const guint8* data, gsize length,
                                  gpointer user_data);

/*
 * Handles one complete packet from a serial controller: broadcasts, replies of
 * other devices, commands and inquiries, in that order; replies and packets
 * to pass on go to `send`.
 */
void visca_dispatch_serial(const guint8* packet, gsize length, ViscaSendFunc send,
                           gpointer user_data);

/*
 * Handles one VISCA payload received over IP: commands and inquiries are
 * answered, everything else (packets for other devices included) gets the
 * error reply. Nothing is passed on.
 */
void visca_dispatch_ip(const guint8* packet, gsize length, ViscaSendFunc send, gpointer user_data);

G_END_DECLS
