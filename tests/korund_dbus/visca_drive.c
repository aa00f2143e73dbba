/*
 * visca_drive: feeds VISCA packets to the parsers with the real D-Bus camera
 * actions and prints what a VISCA camera would answer.
 *
 *   visca_drive [-d] ITEM...      (or ITEMs one per line on stdin with "-")
 *
 * An ITEM is a packet in hex ("81 01 04 07 02 FF" or "8101040702FF") or
 * "sleep:MS". Output: "> packet" for each packet, then "< reply" for each
 * reply, "= pass on ..." for packets passed to the next device, and the
 * parser result when it is not 0. -d enables debug output.
 */
#include <glib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "visca_dbus.h"
#include "visca_device.h"
#include "visca_log.h"
#include "visca_parser.h"

static gsize parse_hex(const char* text, guint8* out, gsize max)
{
    gsize n = 0;
    int high = -1;
    for (const char* p = text; *p; p++) {
        if (!g_ascii_isxdigit(*p))
            continue;
        int v = g_ascii_xdigit_value(*p);
        if (high < 0) {
            high = v;
        } else {
            if (n == max)
                return 0;
            out[n++] = (guint8)(high << 4 | v);
            high = -1;
        }
    }
    return high < 0 ? n : 0;
}

static void print_bytes(const char* tag, const guint8* bytes, gsize n)
{
    printf("%s", tag);
    for (gsize i = 0; i < n; i++)
        printf(" %02X", bytes[i]);
    printf("\n");
}

static void handle(const guint8* packet, gsize n)
{
    print_bytes(">", packet, n);
    const ViscaDevice* d = &visca_device;
    int rc = 0;
    switch (visca_packet_kind(packet, n)) {
    case VISCA_PACKET_BROADCAST: {
        guint8 pass_on[VISCA_MAX_PACKET];
        gsize pass_on_length = 0;
        rc = visca_broadcast_handler(packet, n, pass_on, &pass_on_length);
        if (pass_on_length)
            print_bytes("= pass on", pass_on, pass_on_length);
        break;
    }
    case VISCA_PACKET_REPLY:
        print_bytes("= pass on", packet, n);
        break;
    case VISCA_PACKET_COMMAND:
        rc = visca_cmd_parser(packet, n);
        if (rc == 0) {
            print_bytes("<", d->ack, VISCA_ACK_LEN);
            print_bytes("<", d->completion, VISCA_COMPLETION_LEN);
        } else if (rc == VISCA_ERR_NOT_FOR_US) {
            print_bytes("= pass on", packet, n);
        } else {
            print_bytes("<", d->error, VISCA_ERROR_LEN);
        }
        break;
    case VISCA_PACKET_INQUIRY: {
        guint8* reply = NULL;
        gsize reply_length = 0;
        rc = visca_inq_parser(packet, n, &reply, &reply_length);
        if (rc == 0)
            print_bytes("<", reply, reply_length);
        else if (rc == VISCA_ERR_NOT_FOR_US)
            print_bytes("= pass on", packet, n);
        else
            print_bytes("<", d->error, VISCA_ERROR_LEN);
        g_free(reply);
        break;
    }
    default:
        print_bytes("<", d->error, VISCA_ERROR_LEN);
        break;
    }
    if (rc != 0)
        printf("  result %d\n", rc);
    fflush(stdout);
}

static void item(const char* text)
{
    if (g_str_has_prefix(text, "sleep:")) {
        g_usleep((gulong)strtoul(text + 6, NULL, 10) * 1000);
        return;
    }
    guint8 packet[VISCA_MAX_PACKET];
    gsize n = parse_hex(text, packet, sizeof packet);
    if (n == 0) {
        fprintf(stderr, "not a packet: %s\n", text);
        return;
    }
    handle(packet, n);
}

int main(int argc, char** argv)
{
    int first = 1;
    if (argc > 1 && strcmp(argv[1], "-d") == 0) {
        visca_debug_all = TRUE;
        g_setenv("G_MESSAGES_DEBUG", "all", TRUE);
        first = 2;
    }
    if (first >= argc) {
        fprintf(stderr, "usage: %s [-d] PACKET|sleep:MS|- ...\n", argv[0]);
        return 2;
    }
    if (visca_dbus_open_property_proxies() != 0 || visca_dbus_open_ptz_proxy() != 0) {
        fprintf(stderr, "cannot reach the camera services on the system bus\n");
        return 1;
    }
    g_autofree char* prod_nbr = NULL;
    if (visca_dbus_get_string(VISCA_PROXY_DEVICE_INFO, "ProdNbr", &prod_nbr) == 0)
        visca_set_prod_nbr(prod_nbr);
    visca_set_device_id(1);

    for (int i = first; i < argc; i++) {
        if (strcmp(argv[i], "-") == 0) {
            char line[1024];
            while (fgets(line, sizeof line, stdin))
                if (line[0] != '\n' && line[0] != '#')
                    item(g_strstrip(line));
        } else {
            item(argv[i]);
        }
    }
    visca_dbus_close();
    return 0;
}
