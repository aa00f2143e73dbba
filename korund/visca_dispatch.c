#include "visca_dispatch.h"

#include "visca_device.h"
#include "visca_log.h"
#include "visca_parser.h"

static const char* const failure_texts[] = {
    [VISCA_SEND_ACK] = "Failed to write ACK",
    [VISCA_SEND_COMPLETION] = "Failed to write complete",
    [VISCA_SEND_RESPONSE] = "Failed to write response",
    [VISCA_SEND_UNSUPPORTED] = "Failed to write unsupported",
    [VISCA_SEND_PASS_ON] = "Failed to pass on visca package",
    [VISCA_SEND_PASS_REPLY] = "Failed to pass on response",
    [VISCA_SEND_SET_ID] = "Failed to write set id response",
};

static gboolean send_packet(ViscaSendFunc send, gpointer user_data, ViscaSendKind kind,
                            const guint8* data, gsize length)
{
    if (send(kind, data, length, user_data))
        return TRUE;
    g_warning("%s%s", VISCA_LOG_PREFIX, failure_texts[kind]);
    return FALSE;
}

static void answer_command(const guint8* packet, gsize length, gboolean pass_on_others,
                           ViscaSendFunc send, gpointer user_data)
{
    int result = visca_cmd_parser(packet, length);

    if (result == 0) {
        if (send_packet(send, user_data, VISCA_SEND_ACK, visca_device.ack, VISCA_ACK_LEN))
            send_packet(send, user_data, VISCA_SEND_COMPLETION, visca_device.completion,
                        VISCA_COMPLETION_LEN);
    } else if (result == VISCA_ERR_NOT_FOR_US && pass_on_others) {
        send_packet(send, user_data, VISCA_SEND_PASS_ON, packet, length);
    } else {
        send_packet(send, user_data, VISCA_SEND_UNSUPPORTED, visca_device.error, VISCA_ERROR_LEN);
    }
}

static void answer_inquiry(const guint8* packet, gsize length, gboolean pass_on_others,
                           ViscaSendFunc send, gpointer user_data)
{
    g_autofree guint8* reply = NULL;
    gsize reply_length = 0;
    int result = visca_inq_parser(packet, length, &reply, &reply_length);

    if (result == 0 && reply != NULL)
        send_packet(send, user_data, VISCA_SEND_RESPONSE, reply, reply_length);
    else if (result == VISCA_ERR_NOT_FOR_US && pass_on_others)
        send_packet(send, user_data, VISCA_SEND_PASS_ON, packet, length);
    else
        send_packet(send, user_data, VISCA_SEND_UNSUPPORTED, visca_device.error, VISCA_ERROR_LEN);
}

void visca_dispatch_serial(const guint8* packet, gsize length, ViscaSendFunc send,
                           gpointer user_data)
{
    switch (visca_packet_kind(packet, length)) {
    case VISCA_PACKET_BROADCAST: {
        guint8 pass_on[VISCA_MAX_PACKET];
        gsize pass_on_length = 0;
        if (length > sizeof pass_on)
            return;
        visca_broadcast_handler(packet, length, pass_on, &pass_on_length);
        if (pass_on_length > 0)
            send_packet(send, user_data, VISCA_SEND_SET_ID, pass_on, pass_on_length);
        return;
    }
    case VISCA_PACKET_REPLY:
        send_packet(send, user_data, VISCA_SEND_PASS_REPLY, packet, length);
        return;
    case VISCA_PACKET_COMMAND:
        answer_command(packet, length, TRUE, send, user_data);
        return;
    case VISCA_PACKET_INQUIRY:
        answer_inquiry(packet, length, TRUE, send, user_data);
        return;
    case VISCA_PACKET_UNKNOWN:
    default:
        send_packet(send, user_data, VISCA_SEND_UNSUPPORTED, visca_device.error, VISCA_ERROR_LEN);
        return;
    }
}

void visca_dispatch_ip(const guint8* packet, gsize length, ViscaSendFunc send, gpointer user_data)
{
    if (length >= 2 && packet[1] == VISCA_TYPE_COMMAND)
        answer_command(packet, length, FALSE, send, user_data);
    else if (length >= 2 && packet[1] == VISCA_TYPE_INQUIRY)
        answer_inquiry(packet, length, FALSE, send, user_data);
    else
        send_packet(send, user_data, VISCA_SEND_UNSUPPORTED, visca_device.error, VISCA_ERROR_LEN);
}
