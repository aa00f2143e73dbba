#define _GNU_SOURCE
#include "feedwire.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#define FEEDWIRE_MAGIC0 0x51
#define FEEDWIRE_MAGIC1 0x46

/* BYTE ORDER */

void feedwire_put_u16(uint8_t* p, uint16_t v)
{
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
}

void feedwire_put_u32(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

void feedwire_put_u64(uint8_t* p, uint64_t v)
{
    feedwire_put_u32(p, (uint32_t)(v >> 32));
    feedwire_put_u32(p + 4, (uint32_t)v);
}

uint16_t feedwire_get_u16(const uint8_t* p)
{
    return (uint16_t)((p[0] << 8) | p[1]);
}

uint32_t feedwire_get_u32(const uint8_t* p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

uint64_t feedwire_get_u64(const uint8_t* p)
{
    return ((uint64_t)feedwire_get_u32(p) << 32) | feedwire_get_u32(p + 4);
}

/* FRAMES */

void feedwire_put_header(uint8_t* out, uint16_t type, uint32_t length)
{
    out[0] = FEEDWIRE_MAGIC0;
    out[1] = FEEDWIRE_MAGIC1;
    feedwire_put_u16(out + 2, type);
    feedwire_put_u32(out + 4, length);
}

int feedwire_parse(const uint8_t* buf, size_t len, feedwire_header* out)
{
    if (len >= 1 && buf[0] != FEEDWIRE_MAGIC0)
        return FEEDWIRE_EMALFORMED;
    if (len >= 2 && buf[1] != FEEDWIRE_MAGIC1)
        return FEEDWIRE_EMALFORMED;
    if (len < FEEDWIRE_HEADER_SIZE)
        return FEEDWIRE_EAGAIN;
    uint32_t length = feedwire_get_u32(buf + 4);
    if (length > FEEDWIRE_MAX_PAYLOAD)
        return FEEDWIRE_EMALFORMED;
    if (len - FEEDWIRE_HEADER_SIZE < length)
        return FEEDWIRE_EAGAIN;
    out->type = feedwire_get_u16(buf + 2);
    out->length = length;
    return FEEDWIRE_OK;
}

/* READER */

void feedwire_reader_init(feedwire_reader* r)
{
    memset(r, 0, sizeof(*r));
}

void feedwire_reader_clear(feedwire_reader* r)
{
    free(r->buf);
    feedwire_reader_init(r);
}

/* Drops consumed bytes and makes room for `extra` more. */
static int reader_reserve(feedwire_reader* r, size_t extra)
{
    if (r->consumed > 0) {
        memmove(r->buf, r->buf + r->consumed, r->len - r->consumed);
        r->len -= r->consumed;
        r->consumed = 0;
    }
    if (r->cap - r->len >= extra)
        return FEEDWIRE_OK;
    size_t cap = r->cap ? r->cap : 4096;
    while (cap - r->len < extra)
        cap *= 2;
    uint8_t* nb = realloc(r->buf, cap);
    if (!nb)
        return FEEDWIRE_ENOMEM;
    r->buf = nb;
    r->cap = cap;
    return FEEDWIRE_OK;
}

long feedwire_reader_fill(feedwire_reader* r, int fd)
{
    if (reader_reserve(r, 16384) != FEEDWIRE_OK)
        return FEEDWIRE_ENOMEM;
    for (;;) {
        ssize_t n = read(fd, r->buf + r->len, r->cap - r->len);
        if (n > 0) {
            r->len += (size_t)n;
            return (long)n;
        }
        if (n == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return FEEDWIRE_EAGAIN;
        return FEEDWIRE_EIO;
    }
}

int feedwire_reader_feed(feedwire_reader* r, const uint8_t* data, size_t len)
{
    if (reader_reserve(r, len) != FEEDWIRE_OK)
        return FEEDWIRE_ENOMEM;
    if (len)
        memcpy(r->buf + r->len, data, len);
    r->len += len;
    return FEEDWIRE_OK;
}

int feedwire_reader_next(feedwire_reader* r, feedwire_header* hdr, const uint8_t** payload)
{
    size_t avail = r->len - r->consumed;
    if (avail == 0)
        return FEEDWIRE_EAGAIN; /* also: nothing allocated yet */
    const uint8_t* start = r->buf + r->consumed;
    int rc = feedwire_parse(start, avail, hdr);
    if (rc != FEEDWIRE_OK)
        return rc;
    *payload = start + FEEDWIRE_HEADER_SIZE;
    r->consumed += FEEDWIRE_HEADER_SIZE + hdr->length;
    return FEEDWIRE_OK;
}

size_t feedwire_reader_pending(const feedwire_reader* r)
{
    return r->len - r->consumed;
}

/* SOCKET I/O */

int feedwire_send(int fd, uint16_t type, const void* payload, size_t len)
{
    if (len > FEEDWIRE_MAX_PAYLOAD)
        return FEEDWIRE_EMALFORMED;
    uint8_t hdr[FEEDWIRE_HEADER_SIZE];
    feedwire_put_header(hdr, type, (uint32_t)len);
    struct iovec iov[2] = {{hdr, sizeof(hdr)}, {(void*)payload, len}};
    struct msghdr msg = {.msg_iov = iov, .msg_iovlen = len ? 2 : 1};
    size_t total = sizeof(hdr) + len;
    while (total > 0) {
        ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return FEEDWIRE_EIO;
        }
        total -= (size_t)n;
        while (n > 0 && msg.msg_iovlen > 0) {
            if ((size_t)n >= msg.msg_iov[0].iov_len) {
                n -= (ssize_t)msg.msg_iov[0].iov_len;
                msg.msg_iov++;
                msg.msg_iovlen--;
            } else {
                msg.msg_iov[0].iov_base = (uint8_t*)msg.msg_iov[0].iov_base + n;
                msg.msg_iov[0].iov_len -= (size_t)n;
                n = 0;
            }
        }
    }
    return FEEDWIRE_OK;
}

/* Reads exactly len bytes, waiting with poll so that the deadline and the
 * wake-up descriptor are honoured. */
static int read_exact(int fd, int wake_fd, int64_t deadline_ns, uint8_t* out, size_t len)
{
    size_t got = 0;
    while (got < len) {
        int timeout = -1;
        if (deadline_ns >= 0) {
            int64_t left = deadline_ns - feedwire_monotonic_ns();
            if (left <= 0)
                return FEEDWIRE_EIO;
            timeout = (int)((left + 999999) / 1000000);
        }
        struct pollfd pfd[2] = {{.fd = fd, .events = POLLIN}, {.fd = wake_fd, .events = POLLIN}};
        int rc = poll(pfd, wake_fd >= 0 ? 2 : 1, timeout);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            return FEEDWIRE_EIO;
        }
        if (rc == 0)
            return FEEDWIRE_EIO;
        if (wake_fd >= 0 && (pfd[1].revents & POLLIN))
            return FEEDWIRE_EIO;
        if (!(pfd[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        ssize_t n = recv(fd, out + got, len - got, MSG_DONTWAIT);
        if (n == 0)
            return FEEDWIRE_EIO;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return FEEDWIRE_EIO;
        }
        got += (size_t)n;
    }
    return FEEDWIRE_OK;
}

int feedwire_recv(int fd, int wake_fd, int timeout_ms, feedwire_header* hdr, uint8_t** payload)
{
    int64_t deadline =
        timeout_ms >= 0 ? feedwire_monotonic_ns() + (int64_t)timeout_ms * 1000000 : -1;
    uint8_t head[FEEDWIRE_HEADER_SIZE];
    int rc = read_exact(fd, wake_fd, deadline, head, sizeof(head));
    if (rc != FEEDWIRE_OK)
        return rc;
    /* Validate the header alone; the payload follows. */
    if (head[0] != FEEDWIRE_MAGIC0 || head[1] != FEEDWIRE_MAGIC1)
        return FEEDWIRE_EMALFORMED;
    uint32_t length = feedwire_get_u32(head + 4);
    if (length > FEEDWIRE_MAX_PAYLOAD)
        return FEEDWIRE_EMALFORMED;
    uint8_t* body = malloc(length ? length : 1);
    if (!body)
        return FEEDWIRE_ENOMEM;
    rc = read_exact(fd, wake_fd, deadline, body, length);
    if (rc != FEEDWIRE_OK) {
        free(body);
        return rc;
    }
    hdr->type = feedwire_get_u16(head + 2);
    hdr->length = length;
    *payload = body;
    return FEEDWIRE_OK;
}

/* LOCATIONS AND CONNECTIONS */

char* feedwire_resolve(const char* path)
{
    const char* root = getenv("CAMROOT");
    if (!root || !*root || path[0] != '/')
        return strdup(path);
    size_t n = strlen(root) + strlen(path) + 1;
    char* out = malloc(n);
    if (!out)
        return NULL;
    strcpy(out, root);
    /* "/root/" + "/run/x" must not give a double slash. */
    size_t rl = strlen(out);
    while (rl > 1 && out[rl - 1] == '/')
        out[--rl] = '\0';
    strcat(out, path);
    return out;
}

int feedwire_connect(const char* path)
{
    char* real = feedwire_resolve(path);
    if (!real) {
        errno = ENOMEM;
        return -1;
    }
    struct sockaddr_un addr = {.sun_family = AF_UNIX};
    if (strlen(real) >= sizeof(addr.sun_path)) {
        free(real);
        errno = ENAMETOOLONG;
        return -1;
    }
    strcpy(addr.sun_path, real);
    free(real);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, (struct sockaddr*)&addr, sizeof(addr)) < 0) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

int feedwire_request(const char* path, uint16_t type, const void* payload, size_t len,
                     uint16_t reply_type, int timeout_ms, uint8_t** reply, size_t* reply_len)
{
    int fd = feedwire_connect(path);
    if (fd < 0)
        return FEEDWIRE_EIO;
    int rc = feedwire_send(fd, type, payload, len);
    if (rc == FEEDWIRE_OK) {
        feedwire_header hdr;
        uint8_t* body = NULL;
        rc = feedwire_recv(fd, -1, timeout_ms, &hdr, &body);
        if (rc == FEEDWIRE_OK && hdr.type == FEEDWIRE_ERROR) {
            free(body);
            rc = FEEDWIRE_EIO;
        } else if (rc == FEEDWIRE_OK && hdr.type != reply_type) {
            free(body);
            rc = FEEDWIRE_EMALFORMED;
        } else if (rc == FEEDWIRE_OK) {
            *reply = body;
            *reply_len = hdr.length;
        }
    }
    close(fd);
    return rc;
}

/* FEED SUBSCRIPTIONS */

int feedwire_subscribe(const char* path, uint16_t type, const void* request, size_t len,
                       uint16_t reply_type, int wake_fd, int timeout_ms, int* refused)
{
    if (refused)
        *refused = 0;
    int fd = feedwire_connect(path);
    if (fd < 0)
        return -1;
    if (feedwire_send(fd, type, request, len) != FEEDWIRE_OK) {
        close(fd);
        return -1;
    }
    feedwire_header hdr;
    uint8_t* body = NULL;
    int rc = feedwire_recv(fd, wake_fd, timeout_ms, &hdr, &body);
    free(body);
    if (rc != FEEDWIRE_OK || hdr.type != reply_type) {
        if (refused && rc == FEEDWIRE_OK && hdr.type == FEEDWIRE_ERROR)
            *refused = 1;
        close(fd);
        return -1;
    }
    return fd;
}

int feedwire_next_frame(int fd, int wake_fd, uint16_t type, const char* tag, feedwire_header* hdr,
                        uint8_t** payload)
{
    for (;;) {
        uint8_t* body = NULL;
        int rc = feedwire_recv(fd, wake_fd, -1, hdr, &body);
        if (rc == FEEDWIRE_EMALFORMED)
            fprintf(stderr, "%s: malformed frame on the feed, dropping the connection\n", tag);
        if (rc != FEEDWIRE_OK)
            return rc;
        if (hdr->type == type) {
            *payload = body;
            return FEEDWIRE_OK;
        }
        free(body);
        if (hdr->type == FEEDWIRE_ERROR)
            return FEEDWIRE_EIO;
    }
}

/* CLOCKS */

int64_t feedwire_monotonic_ns(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

int64_t feedwire_realtime_ns(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}
