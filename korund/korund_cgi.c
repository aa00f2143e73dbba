#include "korund_cgi.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include "fdrelay.h"
#include "korund_cgi_api.h"
#include "korund_config.h"
#include "korund_paths.h"
#include "visca_log.h"

#define REQUEST_MAX 4095

static int cgi_fd = -1;
static gboolean cgi_passed; /* owned by the service manager: do not unlink */
static GIOChannel* cgi_channel;
static guint cgi_watch;

static gboolean write_all(int fd, const char* data, gsize length)
{
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return FALSE;
        data += n;
        length -= (gsize)n;
    }
    return TRUE;
}

void korund_cgi_handle_request(int sock)
{
    char buf[REQUEST_MAX + 1];
    int fd = -1;

    size_t length = fdrelay_recv(sock, buf, REQUEST_MAX, &fd);
    if (length == 0) {
        if (errno != EAGAIN) {
            g_autofree char* path = korund_path_resolve(KORUND_TRANSFER_SOCKET);
            visca_log_warning("%sCould not receive fd: %d len: %d path: %s", fd, (int)length, path);
        }
        if (fd >= 0)
            close(fd);
        return;
    }
    buf[length] = '\0';
    g_autofree char* answer = korund_cgi_answer(buf, length);
    if (answer == NULL) {
        visca_log_warning("%sCGI call was not for us");
    } else if (!write_all(fd, answer, strlen(answer))) {
        visca_log_warning("%sCould not write CGI response");
    }
    close(fd);
}

static gboolean cgi_readable(GIOChannel* channel, GIOCondition condition, gpointer user_data)
{
    (void)channel;
    (void)condition;
    (void)user_data;
    korund_cgi_handle_request(cgi_fd);
    return G_SOURCE_CONTINUE;
}

/* The datagram socket on our path among those the service manager passed. */
static int passed_socket(const char* path)
{
    int count = sd_listen_fds(0);
    int found = -1;

    for (int fd = SD_LISTEN_FDS_START; count > 0 && fd < SD_LISTEN_FDS_START + count; fd++) {
        if (sd_is_socket_unix(fd, SOCK_DGRAM, -1, path, 0) <= 0)
            continue;
        if (found >= 0) {
            visca_log_warning("%sMore than one socket %s passed", path);
            return -2;
        }
        found = fd;
    }
    return found;
}

int korund_cgi_open(void)
{
    g_autofree char* path = korund_path_resolve(KORUND_TRANSFER_SOCKET);

    cgi_fd = passed_socket(path);
    if (cgi_fd == -2) {
        cgi_fd = -1;
        return -1;
    }
    cgi_passed = cgi_fd >= 0;
    if (cgi_fd < 0) {
        if (unlink(path) != 0 && errno != ENOENT)
            visca_log_warning("%sCould not remove %s: %s", path, g_strerror(errno));
        cgi_fd = fdrelay_server_socket_with_user_group(path, 0660, KORUND_USER, KORUND_CGI_GROUP);
        if (cgi_fd < 0) {
            visca_log_warning("%sFailed to open CGI socket %s: %s", path, g_strerror(errno));
            return -1;
        }
    }
    fcntl(cgi_fd, F_SETFL, fcntl(cgi_fd, F_GETFL) | O_NONBLOCK);
    cgi_channel = g_io_channel_unix_new(cgi_fd);
    cgi_watch = g_io_add_watch(cgi_channel, G_IO_IN, cgi_readable, NULL);
    return 0;
}

void korund_cgi_close(void)
{
    if (cgi_watch != 0)
        g_source_remove(cgi_watch);
    cgi_watch = 0;
    g_clear_pointer(&cgi_channel, g_io_channel_unref);
    if (cgi_fd >= 0) {
        close(cgi_fd);
        if (!cgi_passed) {
            g_autofree char* path = korund_path_resolve(KORUND_TRANSFER_SOCKET);
            unlink(path);
        }
    }
    cgi_fd = -1;
}
