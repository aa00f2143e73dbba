#include "visca_cmd_internal.h"
#include "visca_device.h"
#include "visca_log.h"
#include "visca_parser.h"

/* PACKET RECOGNITION */

ViscaPacketKind visca_packet_kind(const guint8* packet, gsize length)
{
    if (length < 1)
        return VISCA_PACKET_UNKNOWN;
    guint8 header = packet[0];
    if (header == VISCA_HEADER_BROADCAST)
        return VISCA_PACKET_BROADCAST;
    if (header >= 0x90 && header <= 0xF0 && length >= 2)
        return VISCA_PACKET_REPLY;
    if (length < 2)
        return VISCA_PACKET_UNKNOWN;
    if (packet[1] == VISCA_TYPE_COMMAND)
        return VISCA_PACKET_COMMAND;
    if (packet[1] == VISCA_TYPE_INQUIRY)
        return VISCA_PACKET_INQUIRY;
    return VISCA_PACKET_UNKNOWN;
}

/* LENGTH RULES */

int visca_parser_length_cam(const guint8* packet, gsize length)
{
    gsize required;
    switch (packet[3]) {
    case 0x00:
    case 0x01:
    case 0x03:
    case 0x04:
    case 0x07:
    case 0x08:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x10:
    case 0x18:
    case 0x2C:
    case 0x33:
    case 0x34:
    case 0x35:
    case 0x38:
    case 0x39:
    case 0x51:
    case 0x58:
        required = 6;
        break;
    case 0x3F:
        required = 7;
        break;
    case 0x21:
    case 0x28:
    case 0x43:
    case 0x44:
    case 0x47:
    case 0x48:
    case 0x4A:
    case 0x4B:
    case 0x4C:
    case 0x4D:
        required = 9;
        break;
    default:
        return VISCA_ERR_UNSUPPORTED;
    }
    return length == required ? VISCA_OK : VISCA_ERR_LENGTH;
}

int visca_parser_length_pt(const guint8* packet, gsize length)
{
    gsize required;
    switch (packet[3]) {
    case 0x01:
        required = 9;
        break;
    case 0x02:
    case 0x03:
    case 0x07:
        required = 15;
        break;
    case 0x04:
    case 0x05:
        required = 5;
        break;
    default:
        return VISCA_ERR_UNSUPPORTED;
    }
    return length == required ? VISCA_OK : VISCA_ERR_LENGTH;
}

int visca_parser_length_extended(const guint8* packet, gsize length)
{
    if (packet[3] != 0x01 || packet[4] != 0x0A)
        return VISCA_ERR_UNSUPPORTED;
    return length == 8 ? VISCA_OK : VISCA_ERR_LENGTH;
}

int visca_parser_check_header(const guint8* packet, gsize length, guint8 type)
{
    if (packet == NULL || length < 5) {
        visca_log_debug("%sCommand to short");
        return VISCA_ERR_LENGTH;
    }
    if (packet[0] != (0x80 | visca_device.device_id)) {
        visca_log_debug("%sCommand not for this device");
        return VISCA_ERR_NOT_FOR_US;
    }
    if (packet[1] != type) {
        visca_log_debug("%sCommand was not %s",
                        type == VISCA_TYPE_INQUIRY ? "an inquiry" : "a command");
        return VISCA_ERR_TYPE;
    }
    return VISCA_OK;
}

/* COMMAND PARSER */

int visca_cmd_parser(const guint8* packet, gsize length)
{
    int ret = visca_parser_check_header(packet, length, VISCA_TYPE_COMMAND);
    if (ret != VISCA_OK)
        return ret;
    switch (packet[2]) {
    case 0x04:
        ret = visca_parser_length_cam(packet, length);
        return ret != VISCA_OK ? ret : visca_cmd_parser_cam(packet, length);
    case 0x06:
        ret = visca_parser_length_pt(packet, length);
        return ret != VISCA_OK ? ret : visca_cmd_parser_pt(packet, length);
    case 0x7E:
        ret = visca_parser_length_extended(packet, length);
        return ret != VISCA_OK ? ret : visca_extended_tally_parser(packet, length);
    default:
        return VISCA_ERR_UNSUPPORTED;
    }
}
