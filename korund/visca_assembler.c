#include "visca_assembler.h"

#define MAX_PACKET 255

gboolean visca_is_header_byte(guint8 byte)
{
    return (byte >= 0x81 && byte <= 0x88) || (byte >= 0x90 && byte <= 0xF0);
}

void visca_assembler_reset(ViscaAssembler* assembler)
{
    assembler->count = 0;
    assembler->in_packet = FALSE;
}

void visca_assembler_feed(ViscaAssembler* assembler, const guint8* data, gsize length,
                          ViscaPacketFunc func, gpointer user_data)
{
    for (gsize i = 0; i < length; i++) {
        guint8 byte = data[i];

        if (visca_is_header_byte(byte)) {
            /* Starts a packet, also in the middle of an unfinished one. */
            assembler->buf[0] = byte;
            assembler->count = 1;
            assembler->in_packet = TRUE;
            continue;
        }
        if (!assembler->in_packet)
            continue;
        if (assembler->count >= MAX_PACKET) {
            visca_assembler_reset(assembler);
            continue;
        }
        assembler->buf[assembler->count++] = byte;
        if (byte == 0xFF) {
            gsize count = assembler->count;
            visca_assembler_reset(assembler);
            func(assembler->buf, count, user_data);
        }
    }
}
