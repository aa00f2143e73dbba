#pragma once

#include <gio/gio.h>
#include <glib.h>

G_BEGIN_DECLS

#define VISCA_IP_PORT 52381
#define VISCA_IP_HEADER_LEN 8
#define VISCA_IP_MAX_DATAGRAM 256

/* Payload classes and types of the 8-byte header. */
#define VISCA_IP_CLASS_VISCA 0x01
#define VISCA_IP_CLASS_CONTROL 0x02
#define VISCA_IP_TYPE_CONTROL 0x00
#define VISCA_IP_TYPE_REPLY 0x11
#define VISCA_IP_TYPE_CONTROL_REPLY 0x01

typedef struct {
    guint8 payload_class;
    guint8 payload_type;
    guint16 length;
    guint32 sequence;
} ViscaIpHeader;

/* Reads the header of a datagram of at least 8 bytes. */
void visca_ip_header_read(const guint8* data, ViscaIpHeader* header);
void visca_ip_header_write(guint8* out, const ViscaIpHeader* header);

/* TRUE when a payload is a single VISCA packet (5..18 bytes, header byte
 * first, 0xFF last and nowhere before). */
gboolean visca_ip_payload_is_visca(const guint8* payload, gsize length);

/* Sends one reply datagram back to the sender; FALSE on failure. */
typedef gboolean (*ViscaIpSendFunc)(const guint8* datagram, gsize length, gpointer user_data);

/*
 * Handles one datagram of the VISCA port: control messages, commands and
 * inquiries. Every reply datagram goes to `send`, in order.
 */
void visca_ip_handle_datagram(const guint8* data, gsize length, ViscaIpSendFunc send,
                              gpointer user_data);

/* One UDP socket watched on the default main context. */
typedef struct {
    GSocket* socket;
    GIOChannel* channel;
    guint watch;
    gboolean open;
} ViscaUdpSocket;

extern ViscaUdpSocket visca_ip_socket;

/*
 * Binds a UDP/IPv4 socket to `port` on any address (or on the address in the
 * environment variable KORUND_BIND_ADDRESS), without address reuse, and
 * watches it. 0 or -1.
 */
int visca_udp_open(ViscaUdpSocket* sock, guint16 port, GIOFunc func);
void visca_udp_close(ViscaUdpSocket* sock);

/*
 * Reads one datagram from a watched socket. >0 its length (*from is the
 * sender), 0 when there is nothing to handle, -1 on a read error: the socket
 * is then closed (its "open" flag cleared, so reconfigure opens it again) and
 * the caller returns G_SOURCE_REMOVE.
 */
gssize visca_udp_receive(ViscaUdpSocket* sock, guint8* buf, gsize size, GSocketAddress** from);

/*
 * The port actually used for `port`: tests move the daemon's UDP ports with
 * the environment variables KORUND_VISCA_PORT and
 * KORUND_NETWORK_SETTINGS_PORT.
 */
guint16 visca_udp_port(const char* env_name, guint16 port);

int openVisca(guint16 port);
void closeVisca(void);

G_END_DECLS
