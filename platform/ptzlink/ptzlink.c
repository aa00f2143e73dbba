/* libptzlink stand-in: speaks the control-socket protocol of
 * ptzlink_protocol.h with the PTZ driver (camsim). */
#define _GNU_SOURCE
#include "ptzlink.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "ptzlink_protocol.h"

/* CLIENTS */

typedef struct client {
    struct client* next;
    int handle;
    int refs; /* table reference + callers in flight; guarded by table_lock */
    int deleted;
    pthread_mutex_t lock; /* serialises requests and connection changes */
    int channel;
    ptzlink_connect_fn connect_fn;
    ptzlink_disconnect_fn disconnect_fn;
    void* user_data;
    int started;
    int fd;
    int socket_handle;
    uint32_t seq;
    int timeout_ms;
} client;

static pthread_mutex_t table_lock = PTHREAD_MUTEX_INITIALIZER;
static client* clients;
static int next_handle = 1;

static client* client_get(int handle)
{
    pthread_mutex_lock(&table_lock);
    client* c = clients;
    while (c != NULL && c->handle != handle)
        c = c->next;
    if (c != NULL)
        c->refs++;
    pthread_mutex_unlock(&table_lock);
    return c;
}

static void client_put(client* c)
{
    pthread_mutex_lock(&table_lock);
    int last = --c->refs == 0;
    pthread_mutex_unlock(&table_lock);
    if (last) {
        pthread_mutex_destroy(&c->lock);
        free(c);
    }
}

static int timeout_from_env(void)
{
    const char* s = getenv("PTZLINK_TIMEOUT_MS");
    if (s != NULL) {
        char* end = NULL;
        long v = strtol(s, &end, 10);
        if (end != s && *end == '\0' && v > 0 && v <= 60000)
            return (int)v;
    }
    return 500;
}

int ptzlink_client_create(int channel, int flags)
{
    if (channel < 1 || flags != 0)
        return PTZLINK_ERR_ARGUMENT;
    client* c = calloc(1, sizeof *c);
    if (c == NULL)
        return PTZLINK_ERR_ARGUMENT;
    pthread_mutex_init(&c->lock, NULL);
    c->channel = channel;
    c->fd = -1;
    c->refs = 1;
    c->timeout_ms = timeout_from_env();
    pthread_mutex_lock(&table_lock);
    c->handle = next_handle++;
    c->next = clients;
    clients = c;
    pthread_mutex_unlock(&table_lock);
    return c->handle;
}

int ptzlink_client_set_dbus_interface(int handle, ptzlink_connect_fn connect_fn,
                                      ptzlink_disconnect_fn disconnect_fn, void* user_data)
{
    client* c = client_get(handle);
    if (c == NULL)
        return PTZLINK_ERR_ARGUMENT;
    pthread_mutex_lock(&c->lock);
    c->connect_fn = connect_fn;
    c->disconnect_fn = disconnect_fn;
    c->user_data = user_data;
    pthread_mutex_unlock(&c->lock);
    client_put(c);
    return PTZLINK_OK;
}

/* CONNECTION (called with c->lock held) */

static void drop_connection(client* c)
{
    if (c->fd < 0)
        return;
    close(c->fd);
    c->fd = -1;
    if (c->disconnect_fn != NULL)
        c->disconnect_fn(c->channel, c->socket_handle, c->user_data);
}

static int ensure_connection(client* c)
{
    if (!c->started)
        return PTZLINK_ERR_NOT_CONNECTED;
    if (c->fd >= 0)
        return PTZLINK_OK;
    if (c->connect_fn == NULL)
        return PTZLINK_ERR_NOT_CONNECTED;
    int fd = -1, sh = 0;
    if (c->connect_fn(c->channel, &fd, &sh, c->user_data) != 0 || fd < 0)
        return PTZLINK_ERR_NOT_CONNECTED;
    c->fd = fd;
    c->socket_handle = sh;
    return PTZLINK_OK;
}

int ptzlink_client_start(int handle, int flags)
{
    if (flags != 0)
        return PTZLINK_ERR_ARGUMENT;
    client* c = client_get(handle);
    if (c == NULL)
        return PTZLINK_ERR_ARGUMENT;
    pthread_mutex_lock(&c->lock);
    c->started = 1;
    int r = ensure_connection(c);
    pthread_mutex_unlock(&c->lock);
    client_put(c);
    return r;
}

/* Stops the client's connection and lets go of the caller's reference. */
static int stop_and_put(client* c)
{
    pthread_mutex_lock(&c->lock);
    c->started = 0;
    drop_connection(c);
    pthread_mutex_unlock(&c->lock);
    client_put(c);
    return PTZLINK_OK;
}

int ptzlink_client_stop(int handle)
{
    client* c = client_get(handle);
    if (c == NULL)
        return PTZLINK_ERR_ARGUMENT;
    return stop_and_put(c);
}

int ptzlink_client_delete(int handle)
{
    pthread_mutex_lock(&table_lock);
    client** p = &clients;
    while (*p != NULL && (*p)->handle != handle)
        p = &(*p)->next;
    client* c = *p;
    if (c != NULL)
        *p = c->next; /* the table's reference passes to us */
    pthread_mutex_unlock(&table_lock);
    if (c == NULL)
        return PTZLINK_ERR_ARGUMENT;
    return stop_and_put(c);
}

/* REQUESTS */

static long long now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/* Sends one request and waits for its reply; on success the reply payload is
 * in `payload` (capacity PTZLINK_MAX_PACKET) and its length in *length.
 * Called with c->lock held. */
static int exchange(client* c, uint16_t type, const void* req, uint32_t req_len,
                    unsigned char* payload, uint32_t* length)
{
    int r = ensure_connection(c);
    if (r != PTZLINK_OK)
        return r;

    unsigned char packet[PTZLINK_MAX_PACKET];
    ptzlink_header h = {PTZLINK_MAGIC, PTZLINK_VERSION, type, ++c->seq, 0, req_len};
    memcpy(packet, &h, sizeof h);
    if (req_len > 0)
        memcpy(packet + sizeof h, req, req_len);
    /* A driver that stops reading fills the socket: wait for room only until
     * the deadline, never block. */
    long long deadline = now_ms() + c->timeout_ms;
    ssize_t n;
    for (;;) {
        n = send(c->fd, packet, sizeof h + req_len, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0 || (errno != EINTR && errno != EAGAIN))
            break;
        if (errno == EAGAIN) {
            long long left = deadline - now_ms();
            struct pollfd p = {c->fd, POLLOUT, 0};
            if (left <= 0 || (poll(&p, 1, (int)left) == 0))
                return PTZLINK_ERR_TIMEOUT;
        }
    }
    if (n != (ssize_t)(sizeof h + req_len)) {
        drop_connection(c);
        return PTZLINK_ERR_IO;
    }

    for (;;) {
        long long left = deadline - now_ms();
        if (left <= 0)
            return PTZLINK_ERR_TIMEOUT;
        struct pollfd p = {c->fd, POLLIN, 0};
        int pr = poll(&p, 1, (int)left);
        if (pr < 0 && errno == EINTR)
            continue;
        if (pr < 0) {
            drop_connection(c);
            return PTZLINK_ERR_IO;
        }
        if (pr == 0)
            return PTZLINK_ERR_TIMEOUT;
        n = recv(c->fd, packet, sizeof packet, MSG_TRUNC | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) { /* 0: the driver closed the socket */
            drop_connection(c);
            return PTZLINK_ERR_IO;
        }
        if ((size_t)n < sizeof h || n > PTZLINK_MAX_PACKET)
            return PTZLINK_ERR_PROTOCOL;
        ptzlink_header rh;
        memcpy(&rh, packet, sizeof rh);
        if (rh.magic != PTZLINK_MAGIC || rh.version != PTZLINK_VERSION ||
            rh.length != (uint32_t)n - sizeof rh)
            return PTZLINK_ERR_PROTOCOL;
        if (rh.seq != c->seq && (int32_t)(c->seq - rh.seq) > 0)
            continue; /* late reply to an earlier request */
        if (rh.seq != c->seq || rh.type != (type | PTZLINK_MSG_REPLY))
            return PTZLINK_ERR_PROTOCOL;
        if (rh.status != 0)
            return rh.status == -ERANGE ? PTZLINK_ERR_NO_RECORD : PTZLINK_ERR_REFUSED;
        memcpy(payload, packet + sizeof rh, rh.length);
        *length = rh.length;
        return PTZLINK_OK;
    }
}

/* Runs one exchange on a client looked up by handle. */
static int request(int handle, uint16_t type, const void* req, uint32_t req_len,
                   unsigned char* payload, uint32_t* length)
{
    client* c = client_get(handle);
    if (c == NULL)
        return PTZLINK_ERR_ARGUMENT;
    pthread_mutex_lock(&c->lock);
    int r = exchange(c, type, req, req_len, payload, length);
    pthread_mutex_unlock(&c->lock);
    client_put(c);
    return r;
}

/* A request whose reply must be empty. */
static int request_no_reply(int handle, uint16_t type, const void* req, uint32_t req_len)
{
    unsigned char payload[PTZLINK_MAX_PACKET];
    uint32_t len = 0;
    int r = request(handle, type, req, req_len, payload, &len);
    if (r == PTZLINK_OK && len != 0)
        return PTZLINK_ERR_PROTOCOL;
    return r;
}

int ptzlink_continuous_move(int handle, double pan, double tilt, double zoom)
{
    ptzlink_move_req m = {pan, tilt, zoom};
    return request_no_reply(handle, PTZLINK_MSG_MOVE, &m, sizeof m);
}

int ptzlink_set_spaces(int handle, int pantilt_space, int zoom_space)
{
    ptzlink_set_spaces_req s = {pantilt_space, zoom_space};
    return request_no_reply(handle, PTZLINK_MSG_SET_SPACES, &s, sizeof s);
}

int ptzlink_get_spaces(int handle, int* count, ptzlink_space** spaces, int* selected, char** names)
{
    if (count == NULL || spaces == NULL)
        return PTZLINK_ERR_ARGUMENT;
    *count = 0;
    *spaces = NULL;
    if (names != NULL)
        *names = NULL;
    unsigned char payload[PTZLINK_MAX_PACKET];
    uint32_t len = 0;
    int r = request(handle, PTZLINK_MSG_GET_SPACES, NULL, 0, payload, &len);
    if (r != PTZLINK_OK)
        return r;
    ptzlink_spaces_reply_head head;
    if (len < sizeof head)
        return PTZLINK_ERR_PROTOCOL;
    memcpy(&head, payload, sizeof head);
    if (head.count < 0 || (size_t)head.count > (len - sizeof head) / sizeof(ptzlink_space) ||
        head.selected < -1 || head.selected >= head.count)
        return PTZLINK_ERR_PROTOCOL;
    size_t bytes = (size_t)head.count * sizeof(ptzlink_space);
    ptzlink_space* list = malloc(bytes > 0 ? bytes : 1);
    size_t text_len = len - sizeof head - bytes;
    char* text = malloc(text_len + 1);
    if (list == NULL || text == NULL) {
        free(list);
        free(text);
        return PTZLINK_ERR_ARGUMENT;
    }
    memcpy(list, payload + sizeof head, bytes);
    memcpy(text, payload + sizeof head + bytes, text_len);
    text[text_len] = '\0';
    *count = head.count;
    *spaces = list;
    if (selected != NULL)
        *selected = head.selected;
    if (names != NULL)
        *names = text;
    else
        free(text);
    return PTZLINK_OK;
}

int ptzlink_get_datacache_value(int handle, int64_t seconds, int64_t microseconds, float* pan,
                                float* tilt, uint32_t* status, float* pan_speed, float* tilt_speed,
                                float* hfov, float* vfov, float* zoom)
{
    if (seconds < 0 || microseconds < 0 || microseconds > 999999)
        return PTZLINK_ERR_ARGUMENT;
    ptzlink_datacache_req q = {seconds, microseconds};
    unsigned char payload[PTZLINK_MAX_PACKET];
    uint32_t len = 0;
    int r = request(handle, PTZLINK_MSG_DATACACHE, &q, sizeof q, payload, &len);
    if (r != PTZLINK_OK)
        return r;
    ptzlink_datacache_reply d;
    if (len != sizeof d)
        return PTZLINK_ERR_PROTOCOL;
    memcpy(&d, payload, sizeof d);
    if (pan != NULL)
        *pan = d.pan;
    if (tilt != NULL)
        *tilt = d.tilt;
    if (status != NULL)
        *status = d.status;
    if (pan_speed != NULL)
        *pan_speed = d.pan_speed;
    if (tilt_speed != NULL)
        *tilt_speed = d.tilt_speed;
    if (hfov != NULL)
        *hfov = d.hfov;
    if (vfov != NULL)
        *vfov = d.vfov;
    if (zoom != NULL)
        *zoom = d.zoom;
    return PTZLINK_OK;
}
