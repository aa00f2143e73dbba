/* The transfer socket: requests arrive as passed client descriptors. */
#include <errno.h>
#include <fcntl.h>
#include <fdrelay.h>
#include <glib/gstdio.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include "pavane_private.h"

GIOChannel* transfer_socket = NULL;

/* The watch on transfer_socket (0 when none), removed with the channel. */
static guint transfer_watch = 0;

/* How long one reply may wait for a slow client before it is dropped. */
#define PAVANE_WRITE_TIMEOUT_MS 5000

/* REPLY WRITING */

gboolean pavane_write_reply(int fd, const char* data, size_t len, int timeout_ms)
{
    /* Never block the service's main loop on a client that does not read:
     * the passed descriptor is switched to non-blocking and waited on with a
     * bounded poll. */
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK))
        (void)fcntl(fd, F_SETFL, flags | O_NONBLOCK);

    gint64 deadline = g_get_monotonic_time() + (gint64)timeout_ms * 1000;
    size_t done = 0;
    while (done < len) {
        ssize_t n = write(fd, data + done, len - done);
        if (n > 0) {
            done += (size_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return FALSE;
        gint64 left = (deadline - g_get_monotonic_time()) / 1000;
        if (left <= 0)
            return FALSE;
        struct pollfd p = {.fd = fd, .events = POLLOUT};
        if (poll(&p, 1, (int)left) < 0 && errno != EINTR)
            return FALSE;
    }
    return TRUE;
}

/* REQUEST CALLBACK */

static gboolean pavane_transfer_ready(GIOChannel* channel, GIOCondition condition, gpointer data)
{
    (void)data;
    if (condition & (G_IO_ERR | G_IO_HUP | G_IO_NVAL)) {
        g_warning("%sTransfer socket failed, no longer serving requests", "");
        transfer_watch = 0;
        return G_SOURCE_REMOVE;
    }

    char buffer[PAVANE_REQUEST_MAX + 1];
    int client = -1;
    size_t len =
        fdrelay_recv(g_io_channel_unix_get_fd(channel), buffer, PAVANE_REQUEST_MAX, &client);
    if (len == 0) {
        int err = errno;
        buffer[0] = '\0';
        if (client >= 0)
            g_close(client, NULL);
        /* A malformed message (no descriptor, several, empty) or a spurious
         * wake-up costs only that message; only a broken socket ends the
         * service of requests. */
        if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR)
            return G_SOURCE_CONTINUE;
        g_warning("%sCould not receive fd: %d len: %d path: %s", "", client, (int)len, buffer);
        if (err == EBADMSG)
            return G_SOURCE_CONTINUE;
        transfer_watch = 0;
        return G_SOURCE_REMOVE;
    }
    buffer[len] = '\0';

    size_t reply_len = 0;
    char* reply = pavane_cgi_handle_request(buffer, len, &reply_len);
    if (reply != NULL) {
        if (!pavane_write_reply(client, reply, reply_len, PAVANE_WRITE_TIMEOUT_MS))
            g_warning("%sCould not write CGI response", "");
        g_free(reply);
    }
    g_close(client, NULL);
    return G_SOURCE_CONTINUE;
}

/* SOCKET SET-UP */

static void pavane_watch_socket(int fd)
{
    transfer_socket = g_io_channel_unix_new(fd);
    g_io_channel_set_close_on_unref(transfer_socket, TRUE);
    transfer_watch = g_io_add_watch(transfer_socket, G_IO_IN | G_IO_ERR | G_IO_HUP | G_IO_NVAL,
                                    pavane_transfer_ready, NULL);
}

/* The descriptor passed by the service manager for `path`, -1 when none, -2
 * when there are several. */
static int pavane_passed_socket(const char* path)
{
    int n = sd_listen_fds(0);
    int found = -1;
    for (int fd = SD_LISTEN_FDS_START; fd < SD_LISTEN_FDS_START + n; ++fd) {
        if (sd_is_socket_unix(fd, SOCK_DGRAM, -1, path, 0) <= 0)
            continue;
        if (found >= 0) {
            g_log(G_LOG_DOMAIN, PAVANE_LOG_LEVEL_ERROR, "%sMore than one socket %s passed", "",
                  path);
            return -2;
        }
        found = fd;
    }
    return found;
}

int video_output_cgi_init(void)
{
    if (transfer_socket != NULL)
        video_output_cgi_free();

    g_autofree char* path = pavane_path_resolve(PAVANE_TRANSFER_PATH);
    int fd = pavane_passed_socket(path);
    if (fd == -2)
        return 1;
    if (fd >= 0) {
        pavane_watch_socket(fd);
        return 0;
    }

    if (unlink(path) != 0 && errno != ENOENT) {
        g_log(G_LOG_DOMAIN, PAVANE_LOG_LEVEL_ERROR, "%sCould not remove %s: %m", "", path);
        return 1;
    }
    fd = fdrelay_server_socket_with_user_group(path, 0660, "pavanectl", "www");
    if (fd < 0) {
        g_log(G_LOG_DOMAIN, PAVANE_LOG_LEVEL_ERROR, "%sCould not create %s: %m", "", path);
        return 1;
    }
    pavane_watch_socket(fd);
    return 0;
}

void video_output_cgi_free(void)
{
    /* Remove the watch first: it holds its own reference to the channel and
     * would otherwise keep polling a closed (and possibly reused) fd. */
    if (transfer_watch != 0) {
        g_source_remove(transfer_watch);
        transfer_watch = 0;
    }
    if (transfer_socket == NULL)
        return;
    GError* error = NULL;
    g_io_channel_shutdown(transfer_socket, FALSE, &error);
    g_clear_error(&error);
    g_io_channel_unref(transfer_socket);
    transfer_socket = NULL;
}
