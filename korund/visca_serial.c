#include "visca_serial.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "korund_config.h"
#include "visca_dispatch.h"
#include "visca_log.h"

ViscaSerial visca_serial = {.in_fd = -1, .out_fd = -1};

/* PORT SET-UP */

static gboolean baud_to_speed(int baud, speed_t* speed)
{
    switch (baud) {
    case 4800:
        *speed = B4800;
        return TRUE;
    case 9600:
        *speed = B9600;
        return TRUE;
    case 19200:
        *speed = B19200;
        return TRUE;
    case 38400:
        *speed = B38400;
        return TRUE;
    case 57600:
        *speed = B57600;
        return TRUE;
    case 115200:
        *speed = B115200;
        return TRUE;
    default:
        return FALSE;
    }
}

static int open_port(const char* path, int baud, int* fd_out)
{
    speed_t speed;
    struct termios tio;

    visca_log_info("%sOpening serial device %s at %d baud", path, baud);
    int fd = open(path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        visca_log_warning("%sFailed to open port %s: %s", path, g_strerror(errno));
        return -2;
    }
    if (!baud_to_speed(baud, &speed)) {
        close(fd);
        return -5;
    }
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetospeed(&tio, speed);
        cfsetispeed(&tio, speed);
        tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
        tio.c_lflag &= ~(ISIG | ICANON | ECHO | ECHONL | IEXTEN);
        tio.c_oflag &= ~OPOST;
        tio.c_cflag &= ~(CSIZE | PARENB);
        tio.c_cflag |= CS8 | CREAD | CLOCAL;
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &tio);
    }
    /* Drop whatever was queued before we listened. */
    guint8 byte;
    while (read(fd, &byte, 1) == 1)
        visca_log_debug("%sFlushing serial");
    *fd_out = fd;
    return 0;
}

static int make_channel(int fd, GIOChannel** channel)
{
    g_autoptr(GError) error = NULL;

    *channel = g_io_channel_unix_new(fd);
    if (*channel == NULL) {
        visca_log_warning("%sFailed to open channel: %s", "unknown");
        return -6;
    }
    if (g_io_channel_set_encoding(*channel, NULL, &error) != G_IO_STATUS_NORMAL) {
        visca_log_warning("%sFailed to set encoding: %s", error->message);
        return -7;
    }
    g_io_channel_set_buffered(*channel, FALSE);
    return 0;
}

/* WRITING */

static gboolean write_all(GIOChannel* channel, const guint8* data, gsize length)
{
    gsize done = 0;
    int tries = 0;

    while (done < length) {
        gsize written = 0;
        g_autoptr(GError) error = NULL;
        GIOStatus status = g_io_channel_write_chars(channel, (const gchar*)data + done,
                                                    (gssize)(length - done), &written, &error);
        done += written;
        if (status == G_IO_STATUS_ERROR)
            return FALSE;
        if (status == G_IO_STATUS_AGAIN) {
            /* The line is full: give it a moment, but never block for long. */
            if (++tries > 100)
                return FALSE;
            g_usleep(1000);
        }
    }
    return TRUE;
}

static gboolean flush(GIOChannel* channel)
{
    if (g_io_channel_flush(channel, NULL) != G_IO_STATUS_NORMAL) {
        visca_log_warning("%sFailed to flush after write");
        return FALSE;
    }
    return TRUE;
}

/* Replies and packets for others leave through the output port in a chain. */
static GIOChannel* reply_channel(void)
{
    if (korund_config.serial_configuration == KORUND_SERIAL_DAISY_IN_CHAIN)
        return visca_serial.out_channel;
    return visca_serial.in_channel;
}

static gboolean send_reply(ViscaSendKind kind, const guint8* data, gsize length, gpointer user_data)
{
    (void)kind;
    (void)user_data;
    GIOChannel* channel = reply_channel();
    return channel != NULL && write_all(channel, data, length);
}

/* READING */

static void input_packet(const guint8* packet, gsize length, gpointer user_data)
{
    (void)user_data;
    visca_dispatch_serial(packet, length, send_reply, NULL);
    if (reply_channel() != NULL)
        flush(reply_channel());
}

static void output_packet(const guint8* packet, gsize length, gpointer user_data)
{
    (void)user_data;
    if (visca_serial.in_channel == NULL || !write_all(visca_serial.in_channel, packet, length))
        visca_log_warning("%sFailed to pass on response");
    else
        flush(visca_serial.in_channel);
}

void visca_serial_input_bytes(const guint8* data, gsize length)
{
    visca_assembler_feed(&visca_serial.in_assembler, data, length, input_packet, NULL);
}

void visca_serial_output_bytes(const guint8* data, gsize length)
{
    visca_assembler_feed(&visca_serial.out_assembler, data, length, output_packet, NULL);
}

static gboolean read_port(GIOChannel* channel, GIOCondition condition, gpointer user_data)
{
    gboolean is_input = GPOINTER_TO_INT(user_data);
    guint8 buf[VISCA_ASSEMBLER_SIZE];
    gsize got = 0;
    g_autoptr(GError) error = NULL;

    GIOStatus status = g_io_channel_read_chars(channel, (gchar*)buf, sizeof buf, &got, &error);
    if (status == G_IO_STATUS_ERROR || (status == G_IO_STATUS_EOF && (condition & G_IO_HUP))) {
        visca_log_warning("%sFailed to read from channel: %s",
                          error ? error->message : "end of file");
        /* The line is closed as a whole and marked closed, so that the next
         * reconfigure opens it again; this watch goes with the return. */
        if (is_input)
            visca_serial.in_watch = 0;
        else
            visca_serial.out_watch = 0;
        closeSerial();
        return G_SOURCE_REMOVE;
    }
    if (status != G_IO_STATUS_NORMAL || got == 0) {
        visca_log_debug("%sRead not successful");
        return G_SOURCE_CONTINUE;
    }
    if (is_input)
        visca_serial_input_bytes(buf, got);
    else
        visca_serial_output_bytes(buf, got);
    return G_SOURCE_CONTINUE;
}

/* OPEN AND CLOSE */

/* Opens the in or the out side of the link and watches it for input. */
static int open_side(const char* path, int baud, gboolean in, int* fd, GIOChannel** channel,
                     guint* watch)
{
    int result = open_port(path, baud, fd);
    if (result == 0)
        result = make_channel(*fd, channel);
    if (result == 0) {
        visca_log_debug("%sAdding watch of serial %s interface", in ? "in" : "out");
        *watch =
            g_io_add_watch(*channel, G_IO_IN | G_IO_ERR | G_IO_HUP, read_port, GINT_TO_POINTER(in));
    }
    return result;
}

int openSerial(const char* in_path, const char* out_path, int baud)
{
    int result;

    if (visca_serial.open)
        closeSerial();
    visca_assembler_reset(&visca_serial.in_assembler);
    visca_assembler_reset(&visca_serial.out_assembler);

    result = open_side(in_path, baud, TRUE, &visca_serial.in_fd, &visca_serial.in_channel,
                       &visca_serial.in_watch);
    if (result == 0)
        result = open_side(out_path, baud, FALSE, &visca_serial.out_fd, &visca_serial.out_channel,
                           &visca_serial.out_watch);
    visca_serial.open = TRUE;
    if (result != 0)
        closeSerial();
    return result;
}

static void close_port(GIOChannel** channel, guint* watch, int* fd, const char* failure)
{
    g_autoptr(GError) error = NULL;

    if (*watch != 0)
        g_source_remove(*watch);
    *watch = 0;
    if (*channel != NULL) {
        if (g_io_channel_shutdown(*channel, FALSE, &error) == G_IO_STATUS_ERROR)
            visca_log_warning(failure, error->message);
        g_io_channel_unref(*channel);
        *channel = NULL;
        *fd = -1; /* closed by the shutdown */
    }
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

void closeSerial(void)
{
    close_port(&visca_serial.in_channel, &visca_serial.in_watch, &visca_serial.in_fd,
               "%sFailed to shutdown serial in channel: %s");
    close_port(&visca_serial.out_channel, &visca_serial.out_watch, &visca_serial.out_fd,
               "%sFailed to shutdown serial out channel: %s");
    visca_serial.open = FALSE;
}
