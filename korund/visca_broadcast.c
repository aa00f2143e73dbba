#include <string.h>

#include "visca_device.h"
#include "visca_log.h"
#include "visca_parser.h"

int visca_broadcast_handler(const guint8* packet, gsize length, guint8* pass_on,
                            gsize* pass_on_length)
{
    *pass_on_length = 0;
    visca_log_debug("%sBroadcast command received");
    if (packet == NULL || length < 2)
        return VISCA_ERR_LENGTH;

    switch (packet[1]) {
    case 0x01:
        visca_log_debug("%sIF clear received, ignored");
        return VISCA_OK;
    case VISCA_TYPE_ADDRESS_SET:
        visca_log_debug("%sSet ID received");
        if (length == 4 && packet[2] >= 1 && packet[2] <= 7) {
            visca_set_device_id(packet[2]);
            visca_log_info("%sConfigured device ID as: %d", visca_device.device_id);
        }
        /* The next device in the chain takes the next address. The address
         * byte is only rewritten when there is one before the terminator. */
        memcpy(pass_on, packet, length);
        if (length >= 4)
            pass_on[2] = (guint8)(visca_device.device_id + 1);
        *pass_on_length = length;
        return VISCA_OK;
    default:
        return VISCA_ERR_UNSUPPORTED;
    }
}
