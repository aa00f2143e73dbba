#include "visca_netsettings.h"

#include <stdlib.h>
#include <string.h>

#include "visca_actions.h"
#include "visca_device.h"
#include "visca_log.h"

ViscaUdpSocket visca_netset_socket;
static guint16 netset_port = VISCA_NETSET_PORT;

/* TEXTS */

static gboolean starts_with(const guint8* data, gsize length, gsize offset, const char* text)
{
    gsize n = strlen(text);
    return length >= offset + n && memcmp(data + offset, text, n) == 0;
}

static gboolean contains(const guint8* data, gsize length, const char* text)
{
    gsize n = strlen(text);
    for (gsize i = 0; i + n <= length; i++)
        if (memcmp(data + i, text, n) == 0)
            return TRUE;
    return FALSE;
}

ViscaNetsetRequest visca_netset_classify(const guint8* data, gsize length)
{
    if (starts_with(data, length, 1, "ENQ:network"))
        return VISCA_NETSET_ENQUIRY;
    if (starts_with(data, length, 1, "MAC:") && contains(data, length, "MODEL:IPCARD"))
        return VISCA_NETSET_CHANGE;
    return VISCA_NETSET_UNKNOWN;
}

gboolean visca_netset_names_mac(const guint8* data, gsize length, const char* mac)
{
    return mac != NULL && mac[0] != '\0' && starts_with(data, length, 5, mac);
}

static void add_field(GByteArray* out, const char* field)
{
    static const guint8 end = 0xFF;
    g_byte_array_append(out, (const guint8*)field, (guint)strlen(field));
    g_byte_array_append(out, &end, 1);
}

GByteArray* visca_netset_build_reply(const ViscaNetsetInfo* info)
{
    static const guint8 stx = 0x02, etx = 0x03;
    GByteArray* out = g_byte_array_new();
    g_autofree char* mac = g_strdup_printf("MAC:%s", info->mac);
    g_autofree char* soft = g_strdup_printf("SOFTVERSION:%s", info->soft_version);
    g_autofree char* ip = g_strdup_printf("IPADR:%s", info->ip);
    g_autofree char* mask = g_strdup_printf("MASK:%s", info->mask);
    g_autofree char* gateway = g_strdup_printf("GATEWAY:%s", info->gateway);
    g_autofree char* name = g_strdup_printf("NAME:%s", info->name);

    g_byte_array_append(out, &stx, 1);
    add_field(out, mac);
    add_field(out, "INFO:network");
    add_field(out, "MODEL:IPCARD");
    add_field(out, soft);
    add_field(out, ip);
    add_field(out, mask);
    add_field(out, gateway);
    add_field(out, name);
    add_field(out, "WRITE:off");
    g_byte_array_append(out, &etx, 1);
    return out;
}

GByteArray* visca_netset_build_nak(const char* mac)
{
    static const guint8 stx = 0x02, etx = 0x03;
    GByteArray* out = g_byte_array_new();
    g_autofree char* nak = g_strdup_printf("NAK:%s", mac);

    g_byte_array_append(out, &stx, 1);
    add_field(out, nak);
    g_byte_array_append(out, &etx, 1);
    return out;
}

/* REQUESTS */

/* The MAC address as the protocol writes it: "-" between the bytes. */
static char* read_mac(void)
{
    char* mac = NULL;
    if (visca_actions_get()->get_bytestring(VISCA_PROXY_NET, "Eth0MACAddress", &mac) != 0)
        return NULL;
    g_strdelimit(mac, ":", '-');
    return mac;
}

static void send_both(GByteArray* text, ViscaNetsetSendFunc send, gpointer user_data, gboolean nak)
{
    g_autofree char* shown = g_strndup((const char*)text->data, text->len);
    if (nak)
        visca_log_debug("%sSends (unicast) %s", shown);
    else
        visca_log_debug("%sSends %d bytes %s (unicast)", (int)text->len, shown);
    if (!send(text->data, text->len, FALSE, user_data) && nak)
        visca_log_warning("%sFailed to write unicast NAK");
    if (nak)
        visca_log_debug("%sSends (broadcast) %s", shown);
    else
        visca_log_debug("%sSends %d bytes %s (broadcast)", (int)text->len, shown);
    if (!send(text->data, text->len, TRUE, user_data) && nak)
        visca_log_warning("%sFailed to write broadcast NAK");
}

static void answer_enquiry(ViscaNetsetSendFunc send, gpointer user_data)
{
    const ViscaActions* actions = visca_actions_get();
    g_autofree char* mac = read_mac();
    g_autofree char* ip = NULL;
    g_autofree char* mask = NULL;
    g_autofree char* gateway = NULL;
    g_autofree char* version = NULL;

    if (mac == NULL || actions->get_bytestring(VISCA_PROXY_NET, "Eth0IPAddress", &ip) != 0 ||
        actions->get_bytestring(VISCA_PROXY_NET, "Eth0SubnetMask", &mask) != 0 ||
        actions->get_bytestring(VISCA_PROXY_NET, "DefaultRouter", &gateway) != 0 ||
        actions->get_string(VISCA_PROXY_DEVICE_INFO, "Version", &version) != 0) {
        visca_log_warning("%sFailed to get some parameters");
        return;
    }
    ViscaNetsetInfo info = {mac, "1.20", ip, mask, gateway, visca_device.prod_nbr};
    g_autoptr(GByteArray) reply = visca_netset_build_reply(&info);
    send_both(reply, send, user_data, FALSE);
}

void visca_netset_handle_datagram(const guint8* data, gsize length, ViscaNetsetSendFunc send,
                                  gpointer user_data)
{
    g_autofree char* shown = g_strndup((const char*)data, length);

    switch (visca_netset_classify(data, length)) {
    case VISCA_NETSET_ENQUIRY:
        visca_log_debug("%sInquiry %s", shown);
        answer_enquiry(send, user_data);
        return;
    case VISCA_NETSET_CHANGE: {
        visca_log_debug("%sNetwork setting: %s\n", shown);
        g_autofree char* mac = read_mac();
        if (mac == NULL || !visca_netset_names_mac(data, length, mac)) {
            visca_log_debug("%sNetwork setting was not for us");
            return;
        }
        g_autoptr(GByteArray) nak = visca_netset_build_nak(mac);
        send_both(nak, send, user_data, TRUE);
        return;
    }
    case VISCA_NETSET_UNKNOWN:
    default:
        visca_log_debug("%sUnknown %s", shown);
        return;
    }
}

/* SOCKET */

typedef struct {
    GSocket* socket;
    GSocketAddress* from;
} Requester;

/* Where the broadcast reply goes: 255.255.255.255 on our port, or
 * KORUND_DISCOVERY_BROADCAST ("address" or "address:port"). */
static GSocketAddress* broadcast_target(void)
{
    const char* target = getenv("KORUND_DISCOVERY_BROADCAST");
    g_autofree char* host = g_strdup(target && target[0] ? target : "255.255.255.255");
    guint16 port = netset_port;
    char* colon = strchr(host, ':');

    if (colon != NULL) {
        long number = strtol(colon + 1, NULL, 10);
        *colon = '\0';
        if (number > 0 && number < 65536)
            port = (guint16)number;
    }
    g_autoptr(GInetAddress) address = g_inet_address_new_from_string(host);
    return address ? g_inet_socket_address_new(address, port) : NULL;
}

static gboolean send_netset(const guint8* data, gsize length, gboolean broadcast,
                            gpointer user_data)
{
    Requester* requester = user_data;
    g_autoptr(GSocketAddress) to = broadcast ? broadcast_target() : g_object_ref(requester->from);

    return to != NULL && g_socket_send_to(requester->socket, to, (const gchar*)data, length, NULL,
                                          NULL) == (gssize)length;
}

/*
 * Our own broadcast reply comes back to this socket (same port, one of our
 * addresses). It looks like a change request naming our MAC; answering it
 * would broadcast a refusal after every enquiry.
 */
static gboolean is_own_echo(GSocketAddress* from)
{
    if (!G_IS_INET_SOCKET_ADDRESS(from))
        return FALSE;
    GInetSocketAddress* inet = G_INET_SOCKET_ADDRESS(from);
    if (g_inet_socket_address_get_port(inet) != netset_port)
        return FALSE;
    GInetAddress* address = g_inet_socket_address_get_address(inet);
    if (g_inet_address_get_is_loopback(address))
        return TRUE;
    g_autofree char* own = NULL;
    g_autofree char* text = g_inet_address_to_string(address);
    return visca_actions_get()->get_bytestring(VISCA_PROXY_NET, "Eth0IPAddress", &own) == 0 &&
           g_strcmp0(own, text) == 0;
}

static gboolean netset_readable(GIOChannel* channel, GIOCondition condition, gpointer user_data)
{
    ViscaUdpSocket* sock = user_data;
    guint8 buf[VISCA_NETSET_MAX];
    g_autoptr(GSocketAddress) from = NULL;

    (void)channel;
    (void)condition;
    visca_log_debug("%sUDP broadcast data available");
    gssize got = visca_udp_receive(sock, buf, sizeof buf, &from);
    if (got <= 0)
        return got < 0 ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
    if (visca_netset_classify(buf, (gsize)got) == VISCA_NETSET_CHANGE && is_own_echo(from))
        return G_SOURCE_CONTINUE;
    Requester requester = {sock->socket, from};
    visca_netset_handle_datagram(buf, (gsize)got, send_netset, &requester);
    return G_SOURCE_CONTINUE;
}

int openNetworkSettings(guint16 port)
{
    if (visca_netset_socket.open)
        return 0;
    netset_port = visca_udp_port("KORUND_NETWORK_SETTINGS_PORT", port);
    int result = visca_udp_open(&visca_netset_socket, netset_port, netset_readable);
    if (result == 0)
        g_socket_set_broadcast(visca_netset_socket.socket, TRUE);
    return result;
}

void closeNetworkSettings(void)
{
    visca_udp_close(&visca_netset_socket);
}
