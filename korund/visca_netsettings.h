#pragma once

#include <glib.h>

#include "visca_ip.h"

G_BEGIN_DECLS

#define VISCA_NETSET_PORT 52380
#define VISCA_NETSET_MAX 256

/* The values the discovery reply carries. */
typedef struct {
    const char* mac; /* "00-11-22-33-44-55" */
    const char* soft_version;
    const char* ip;
    const char* mask;
    const char* gateway;
    const char* name;
} ViscaNetsetInfo;

typedef enum {
    VISCA_NETSET_ENQUIRY, /* "ENQ:network" */
    VISCA_NETSET_CHANGE,  /* "MAC:..." with "MODEL:IPCARD" */
    VISCA_NETSET_UNKNOWN,
} ViscaNetsetRequest;

ViscaNetsetRequest visca_netset_classify(const guint8* data, gsize length);

/* The reply to an enquiry: 0x02, the fields each closed by 0xFF, 0x03. */
GByteArray* visca_netset_build_reply(const ViscaNetsetInfo* info);
/* The refusal of a change: 0x02 "NAK:<mac>" 0xFF 0x03. */
GByteArray* visca_netset_build_nak(const char* mac);
/* TRUE when a change request names `mac` (text from byte 5 on). */
gboolean visca_netset_names_mac(const guint8* data, gsize length, const char* mac);

/*
 * Sends a reply text to the requester (broadcast FALSE) or to the broadcast
 * address (TRUE).
 */
typedef gboolean (*ViscaNetsetSendFunc)(const guint8* data, gsize length, gboolean broadcast,
                                        gpointer user_data);

/* Handles one datagram of the network-settings port, reading the camera's
 * values through the action table. */
void visca_netset_handle_datagram(const guint8* data, gsize length, ViscaNetsetSendFunc send,
                                  gpointer user_data);

extern ViscaUdpSocket visca_netset_socket;

/*
 * The broadcast reply goes to 255.255.255.255 on our port. On a test machine
 * the environment variable KORUND_DISCOVERY_BROADCAST ("address" or
 * "address:port", e.g. "127.0.0.1:40000") sends it to a loopback listener
 * instead, so nothing leaves the machine. KORUND_NETWORK_SETTINGS_PORT moves
 * the port the socket listens on.
 */
int openNetworkSettings(guint16 port);
void closeNetworkSettings(void);

G_END_DECLS
