#include "visca_ip.h"

#include <stdlib.h>
#include <string.h>

#include "visca_dispatch.h"
#include "visca_log.h"

ViscaUdpSocket visca_ip_socket;

/* HEADER AND PAYLOAD */

void visca_ip_header_read(const guint8* data, ViscaIpHeader* header)
{
    header->payload_class = data[0];
    header->payload_type = data[1];
    header->length = (guint16)((data[2] << 8) | data[3]);
    header->sequence = ((guint32)data[4] << 24) | ((guint32)data[5] << 16) |
                       ((guint32)data[6] << 8) | (guint32)data[7];
}

void visca_ip_header_write(guint8* out, const ViscaIpHeader* header)
{
    out[0] = header->payload_class;
    out[1] = header->payload_type;
    out[2] = (guint8)(header->length >> 8);
    out[3] = (guint8)header->length;
    out[4] = (guint8)(header->sequence >> 24);
    out[5] = (guint8)(header->sequence >> 16);
    out[6] = (guint8)(header->sequence >> 8);
    out[7] = (guint8)header->sequence;
}

gboolean visca_ip_payload_is_visca(const guint8* payload, gsize length)
{
    if (length < 5 || length > 18)
        return FALSE;
    if (!((payload[0] >= 0x81 && payload[0] <= 0x88) || (payload[0] >= 0x90 && payload[0] <= 0xF0)))
        return FALSE;
    if (payload[length - 1] != 0xFF)
        return FALSE;
    return memchr(payload, 0xFF, length - 1) == NULL;
}

/* DATAGRAMS */

typedef struct {
    ViscaIpSendFunc send;
    gpointer user_data;
    ViscaIpHeader request;
} ReplyContext;

static gboolean send_visca_reply(ViscaSendKind kind, const guint8* data, gsize length,
                                 gpointer user_data)
{
    ReplyContext* ctx = user_data;
    guint8 out[VISCA_IP_MAX_DATAGRAM];
    ViscaIpHeader header = {
        .payload_class = ctx->request.payload_class,
        .payload_type = VISCA_IP_TYPE_REPLY,
        .length = (guint16)length,
        .sequence = ctx->request.sequence,
    };

    (void)kind;
    if (length > sizeof out - VISCA_IP_HEADER_LEN)
        return FALSE;
    visca_ip_header_write(out, &header);
    memcpy(out + VISCA_IP_HEADER_LEN, data, length);
    return ctx->send(out, VISCA_IP_HEADER_LEN + length, ctx->user_data);
}

void visca_ip_handle_datagram(const guint8* data, gsize length, ViscaIpSendFunc send,
                              gpointer user_data)
{
    ReplyContext ctx = {.send = send, .user_data = user_data};

    if (length < VISCA_IP_HEADER_LEN + 1 || length > 24)
        return;
    visca_ip_header_read(data, &ctx.request);
    visca_log_debug("%sIP packet: class %02x, type %02x, size %d, sequence: %d",
                    ctx.request.payload_class, ctx.request.payload_type, ctx.request.length,
                    (int)ctx.request.sequence);
    const guint8* payload = data + VISCA_IP_HEADER_LEN;

    if (ctx.request.payload_class == VISCA_IP_CLASS_CONTROL &&
        ctx.request.payload_type == VISCA_IP_TYPE_CONTROL) {
        if (ctx.request.length == 1 && payload[0] == 0x01) {
            guint8 out[VISCA_IP_HEADER_LEN + 1];
            ViscaIpHeader header = {VISCA_IP_CLASS_CONTROL, VISCA_IP_TYPE_CONTROL_REPLY, 1,
                                    ctx.request.sequence};
            visca_ip_header_write(out, &header);
            out[VISCA_IP_HEADER_LEN] = 0x01;
            if (!send(out, sizeof out, user_data))
                visca_log_warning("%sFailed to write control ACK");
        }
        return;
    }
    /* The header's length decides, but never beyond what was received. */
    if (ctx.request.length > length - VISCA_IP_HEADER_LEN)
        return;
    if (!visca_ip_payload_is_visca(payload, ctx.request.length))
        return;
    visca_dispatch_ip(payload, ctx.request.length, send_visca_reply, &ctx);
}

/* SOCKETS */

guint16 visca_udp_port(const char* env_name, guint16 port)
{
    const char* value = getenv(env_name);
    if (value != NULL && value[0] != '\0') {
        long number = strtol(value, NULL, 10);
        if (number > 0 && number < 65536)
            return (guint16)number;
    }
    return port;
}

int visca_udp_open(ViscaUdpSocket* sock, guint16 port, GIOFunc func)
{
    g_autoptr(GError) error = NULL;

    sock->socket =
        g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP, &error);
    if (sock->socket == NULL) {
        visca_log_warning("%sFailed to create UDP socket: %s", error->message);
        return -1;
    }
    /* KORUND_BIND_ADDRESS keeps a test or desk set-up on one address (loopback). */
    const char* bind_to = getenv("KORUND_BIND_ADDRESS");
    g_autoptr(GInetAddress) any = bind_to && bind_to[0]
                                      ? g_inet_address_new_from_string(bind_to)
                                      : g_inet_address_new_any(G_SOCKET_FAMILY_IPV4);
    if (any == NULL) {
        visca_log_warning("%sg_inet_address_new_any failed");
        visca_udp_close(sock);
        return -1;
    }
    g_autoptr(GSocketAddress) address = g_inet_socket_address_new(any, port);
    if (address == NULL) {
        visca_log_warning("%sg_inet_socket_address_new failed");
        visca_udp_close(sock);
        return -1;
    }
    /* No address reuse: a second instance must fail here rather than share
     * the port and split a controller's datagrams with the first. */
    if (!g_socket_bind(sock->socket, address, FALSE, &error)) {
        visca_log_warning("%sSocket bind failed: %s", error->message);
        visca_udp_close(sock);
        return -1;
    }
    g_socket_set_blocking(sock->socket, FALSE);
    sock->channel = g_io_channel_unix_new(g_socket_get_fd(sock->socket));
    if (g_io_channel_set_encoding(sock->channel, NULL, &error) != G_IO_STATUS_NORMAL) {
        visca_log_warning("%sFailed to set encoding: %s", error->message);
        visca_udp_close(sock);
        return -1;
    }
    visca_log_debug("%sAdding watch of socket interface");
    sock->watch = g_io_add_watch(sock->channel, G_IO_IN | G_IO_ERR | G_IO_HUP, func, sock);
    sock->open = TRUE;
    return 0;
}

gssize visca_udp_receive(ViscaUdpSocket* sock, guint8* buf, gsize size, GSocketAddress** from)
{
    g_autoptr(GError) error = NULL;
    gssize got = g_socket_receive_from(sock->socket, from, (gchar*)buf, size, NULL, &error);
    if (got < 0) {
        if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK))
            return 0;
        visca_log_warning("%sFailed to read from socket: %s", error->message);
        /* Closed and marked closed, so that the next reconfigure opens it
         * again; the caller's watch goes with its return. */
        sock->watch = 0;
        visca_udp_close(sock);
        return -1;
    }
    if (got == 0)
        visca_log_debug("%sRead not successful");
    return got;
}

void visca_udp_close(ViscaUdpSocket* sock)
{
    g_autoptr(GError) error = NULL;

    if (sock->watch != 0)
        g_source_remove(sock->watch);
    sock->watch = 0;
    if (sock->channel != NULL) {
        /* The socket owns the descriptor: shut the channel down without closing it twice. */
        g_io_channel_set_close_on_unref(sock->channel, FALSE);
        if (g_io_channel_flush(sock->channel, &error) == G_IO_STATUS_ERROR)
            visca_log_warning("%sFailed to shutdown socket channel: %s", error->message);
        g_clear_pointer(&sock->channel, g_io_channel_unref);
    }
    g_clear_object(&sock->socket);
    sock->open = FALSE;
}

typedef struct {
    GSocket* socket;
    GSocketAddress* to;
} Sender;

static gboolean send_to_sender(const guint8* datagram, gsize length, gpointer user_data)
{
    Sender* sender = user_data;
    return g_socket_send_to(sender->socket, sender->to, (const gchar*)datagram, length, NULL,
                            NULL) == (gssize)length;
}

static gboolean visca_readable(GIOChannel* channel, GIOCondition condition, gpointer user_data)
{
    ViscaUdpSocket* sock = user_data;
    guint8 buf[VISCA_IP_MAX_DATAGRAM];
    g_autoptr(GSocketAddress) from = NULL;

    (void)channel;
    (void)condition;
    visca_log_debug("%sUDP data available");
    gssize got = visca_udp_receive(sock, buf, sizeof buf, &from);
    if (got <= 0)
        return got < 0 ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
    visca_log_debug("%sRead %d bytes", (int)got);
    Sender sender = {sock->socket, from};
    visca_ip_handle_datagram(buf, (gsize)got, send_to_sender, &sender);
    return G_SOURCE_CONTINUE;
}

int openVisca(guint16 port)
{
    if (visca_ip_socket.open)
        return 0;
    return visca_udp_open(&visca_ip_socket, visca_udp_port("KORUND_VISCA_PORT", port),
                          visca_readable);
}

void closeVisca(void)
{
    visca_udp_close(&visca_ip_socket);
}
