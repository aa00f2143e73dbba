#define _GNU_SOURCE
#include "mbx.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "feedwire.h"

#define MBX_API __attribute__((visibility("default")))
#define RECONNECT_DELAY_MS 500

struct mbx_subscriber_config {
    char* topic;
    char* source;
    mbx_message_callback on_message;
    void* user_data;
};

struct mbx_subscriber {
    mbx_connection* conn; /* NULL once the connection is gone */
    uint32_t id;
    struct mbx_subscriber_config config;
    mbx_subscriber_ready_callback on_ready;
    void* ready_user_data;
    int confirmed;
    struct mbx_subscriber* next;
};

struct mbx_message {
    struct timespec timestamp;
    mbx_payload payload;
};

/*
 * Locking: `lock` guards fd writes, the subscriber list and next_id and is
 * held only briefly. `dispatch` is held by the connection thread while it
 * runs a callback, so that a subscriber destroyed from another thread is
 * never in use; the connection thread itself never takes it twice.
 */
struct mbx_connection {
    mbx_error_callback on_error;
    void* user_data;
    pthread_mutex_t lock;
    pthread_mutex_t dispatch;
    int fd;
    int wake_fd;
    atomic_int stop;
    pthread_t thread;
    mbx_subscriber* subs;
    uint32_t next_id;
};

/* ERRORS */

static mbx_error* error_new(int code, const char* fmt, ...)
{
    mbx_error* e = calloc(1, sizeof(*e));
    if (!e)
        return NULL;
    e->code = code;
    va_list ap;
    va_start(ap, fmt);
    if (vasprintf(&e->message, fmt, ap) < 0)
        e->message = NULL;
    va_end(ap);
    return e;
}

static void set_error(mbx_error** out, mbx_error* e)
{
    if (out)
        *out = e;
    else
        mbx_error_destroy(&e);
}

MBX_API void mbx_error_destroy(mbx_error** error)
{
    if (!error || !*error)
        return;
    free((*error)->message);
    free(*error);
    *error = NULL;
}

/* WIRE */

/* Sends the subscription request of s; called with c->lock held. */
static void send_subscribe_locked(mbx_connection* c, const mbx_subscriber* s)
{
    if (c->fd < 0)
        return;
    size_t tl = strlen(s->config.topic), sl = strlen(s->config.source);
    size_t len = 4 + tl + 1 + sl + 1;
    uint8_t* req = malloc(len);
    if (!req)
        return;
    feedwire_put_u32(req, s->id);
    memcpy(req + 4, s->config.topic, tl + 1);
    memcpy(req + 4 + tl + 1, s->config.source, sl + 1);
    feedwire_send(c->fd, FEEDWIRE_MBX_SUBSCRIBE, req, len);
    free(req);
}

static mbx_subscriber* find_locked(mbx_connection* c, uint32_t id)
{
    for (mbx_subscriber* s = c->subs; s; s = s->next)
        if (s->id == id)
            return s;
    return NULL;
}

/* CONNECTION THREAD */

static void deliver(mbx_connection* c, const uint8_t* body, uint32_t len)
{
    if (len < 16)
        return;
    uint32_t id = feedwire_get_u32(body);
    struct mbx_message msg;
    msg.timestamp.tv_sec = (time_t)(int64_t)feedwire_get_u64(body + 4);
    uint32_t nsec = feedwire_get_u32(body + 12);
    if (nsec >= 1000000000u)
        return;
    msg.timestamp.tv_nsec = (long)nsec;
    size_t size = len - 16;
    char* text = malloc(size + 1);
    if (!text)
        return;
    memcpy(text, body + 16, size);
    text[size] = '\0';
    msg.payload.data = text;
    msg.payload.size = size;

    pthread_mutex_lock(&c->dispatch);
    pthread_mutex_lock(&c->lock);
    mbx_subscriber* s = find_locked(c, id);
    mbx_message_callback cb = s ? s->config.on_message : NULL;
    void* ud = s ? s->config.user_data : NULL;
    pthread_mutex_unlock(&c->lock);
    if (cb)
        cb(&msg, ud);
    pthread_mutex_unlock(&c->dispatch);
    free(text);
}

static void confirm(mbx_connection* c, const uint8_t* body, uint32_t len)
{
    if (len < 4)
        return;
    pthread_mutex_lock(&c->dispatch);
    pthread_mutex_lock(&c->lock);
    mbx_subscriber* s = find_locked(c, feedwire_get_u32(body));
    mbx_subscriber_ready_callback cb = NULL;
    void* ud = NULL;
    if (s && !s->confirmed) {
        s->confirmed = 1;
        cb = s->on_ready;
        ud = s->ready_user_data;
    }
    pthread_mutex_unlock(&c->lock);
    if (cb)
        cb(s, NULL, ud);
    pthread_mutex_unlock(&c->dispatch);
}

static void report_loss(mbx_connection* c)
{
    mbx_error* e = error_new(MBX_ERROR_CONNECTION_LOST, "connection to the message broker lost");
    pthread_mutex_lock(&c->dispatch);
    if (c->on_error && e)
        c->on_error(e, c->user_data);
    pthread_mutex_unlock(&c->dispatch);
    mbx_error_destroy(&e);
}

static int try_reconnect(mbx_connection* c)
{
    int fd = feedwire_connect(FEEDWIRE_MBX_SOCKET);
    if (fd < 0)
        return -1;
    pthread_mutex_lock(&c->lock);
    c->fd = fd;
    for (mbx_subscriber* s = c->subs; s; s = s->next)
        send_subscribe_locked(c, s);
    pthread_mutex_unlock(&c->lock);
    return 0;
}

static void* connection_thread(void* arg)
{
    mbx_connection* c = arg;
    while (!atomic_load(&c->stop)) {
        if (c->fd < 0) {
            if (try_reconnect(c) < 0) {
                struct pollfd pfd = {.fd = c->wake_fd, .events = POLLIN};
                poll(&pfd, 1, RECONNECT_DELAY_MS);
                continue;
            }
        }
        feedwire_header hdr;
        uint8_t* body = NULL;
        int rc = feedwire_recv(c->fd, c->wake_fd, -1, &hdr, &body);
        if (rc == FEEDWIRE_OK && hdr.type == FEEDWIRE_MBX_MESSAGE) {
            deliver(c, body, hdr.length);
        } else if (rc == FEEDWIRE_OK && hdr.type == FEEDWIRE_MBX_SUBSCRIBED) {
            confirm(c, body, hdr.length);
        } else if (rc == FEEDWIRE_OK && hdr.type != FEEDWIRE_ERROR) {
            /* unknown frame type: ignored */
        } else if (!atomic_load(&c->stop)) {
            if (rc == FEEDWIRE_EMALFORMED)
                fprintf(stderr, "libmbx: malformed frame from the broker, reconnecting\n");
            pthread_mutex_lock(&c->lock);
            close(c->fd);
            c->fd = -1;
            for (mbx_subscriber* s = c->subs; s; s = s->next)
                s->confirmed = 0;
            pthread_mutex_unlock(&c->lock);
            report_loss(c);
        }
        free(body);
    }
    return NULL;
}

/* CONNECTION */

MBX_API mbx_connection* mbx_connection_create(mbx_error_callback on_error, void* user_data,
                                              mbx_error** error)
{
    if (error)
        *error = NULL;
    mbx_connection* c = calloc(1, sizeof(*c));
    if (!c) {
        set_error(error, error_new(MBX_ERROR_NO_MEMORY, "out of memory"));
        return NULL;
    }
    c->on_error = on_error;
    c->user_data = user_data;
    c->next_id = 1;
    c->fd = feedwire_connect(FEEDWIRE_MBX_SOCKET);
    if (c->fd < 0) {
        set_error(error, error_new(MBX_ERROR_CONNECTION_FAILED, "message broker unreachable: %s",
                                   strerror(errno)));
        free(c);
        return NULL;
    }
    c->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    pthread_mutex_init(&c->lock, NULL);
    pthread_mutex_init(&c->dispatch, NULL);
    if (c->wake_fd < 0 || pthread_create(&c->thread, NULL, connection_thread, c) != 0) {
        set_error(error, error_new(MBX_ERROR_NO_MEMORY, "cannot start the connection thread"));
        if (c->wake_fd >= 0)
            close(c->wake_fd);
        close(c->fd);
        pthread_mutex_destroy(&c->lock);
        pthread_mutex_destroy(&c->dispatch);
        free(c);
        return NULL;
    }
    return c;
}

MBX_API void mbx_connection_destroy(mbx_connection** connection)
{
    if (!connection || !*connection)
        return;
    mbx_connection* c = *connection;
    *connection = NULL;
    if (pthread_equal(pthread_self(), c->thread)) {
        /* Not allowed from a callback: it would free what the thread
         * still uses. Refuse loudly rather than corrupt memory. */
        fprintf(stderr, "libmbx: mbx_connection_destroy called from a callback, ignored\n");
        return;
    }
    atomic_store(&c->stop, 1);
    uint64_t one = 1;
    if (write(c->wake_fd, &one, sizeof(one)) < 0) {
        /* eventfd counter cannot overflow here */
    }
    pthread_join(c->thread, NULL);
    for (mbx_subscriber* s = c->subs; s; s = s->next)
        s->conn = NULL;
    if (c->fd >= 0)
        close(c->fd);
    close(c->wake_fd);
    pthread_mutex_destroy(&c->lock);
    pthread_mutex_destroy(&c->dispatch);
    free(c);
}

/* SUBSCRIBERS */

MBX_API mbx_subscriber_config* mbx_subscriber_config_create(const char* topic, const char* source,
                                                            mbx_message_callback on_message,
                                                            void* user_data, mbx_error** error)
{
    if (error)
        *error = NULL;
    if (!topic || !*topic || !source || !on_message) {
        set_error(error,
                  error_new(MBX_ERROR_INVALID_ARGUMENT, "topic, source and callback are required"));
        return NULL;
    }
    mbx_subscriber_config* cfg = calloc(1, sizeof(*cfg));
    if (cfg) {
        cfg->topic = strdup(topic);
        cfg->source = strdup(source);
    }
    if (!cfg || !cfg->topic || !cfg->source) {
        mbx_subscriber_config_destroy(&cfg);
        set_error(error, error_new(MBX_ERROR_NO_MEMORY, "out of memory"));
        return NULL;
    }
    cfg->on_message = on_message;
    cfg->user_data = user_data;
    return cfg;
}

MBX_API void mbx_subscriber_config_destroy(mbx_subscriber_config** config)
{
    if (!config || !*config)
        return;
    free((*config)->topic);
    free((*config)->source);
    free(*config);
    *config = NULL;
}

MBX_API mbx_subscriber* mbx_subscriber_create_async(mbx_connection* connection,
                                                    const mbx_subscriber_config* config,
                                                    mbx_subscriber_ready_callback on_ready,
                                                    void* ready_user_data, mbx_error** error)
{
    if (error)
        *error = NULL;
    if (!connection || !config) {
        set_error(error, error_new(MBX_ERROR_INVALID_ARGUMENT,
                                   "connection and configuration are required"));
        return NULL;
    }
    mbx_subscriber* s = calloc(1, sizeof(*s));
    if (s) {
        s->config = *config;
        s->config.topic = strdup(config->topic);
        s->config.source = strdup(config->source);
    }
    if (!s || !s->config.topic || !s->config.source) {
        if (s) {
            free(s->config.topic);
            free(s->config.source);
        }
        free(s);
        set_error(error, error_new(MBX_ERROR_NO_MEMORY, "out of memory"));
        return NULL;
    }
    s->on_ready = on_ready;
    s->ready_user_data = ready_user_data;
    s->conn = connection;
    pthread_mutex_lock(&connection->lock);
    s->id = connection->next_id++;
    s->next = connection->subs;
    connection->subs = s;
    send_subscribe_locked(connection, s);
    pthread_mutex_unlock(&connection->lock);
    return s;
}

MBX_API void mbx_subscriber_destroy(mbx_subscriber** subscriber)
{
    if (!subscriber || !*subscriber)
        return;
    mbx_subscriber* s = *subscriber;
    *subscriber = NULL;
    mbx_connection* c = s->conn;
    if (c) {
        int own = pthread_equal(pthread_self(), c->thread);
        if (!own)
            pthread_mutex_lock(&c->dispatch);
        pthread_mutex_lock(&c->lock);
        for (mbx_subscriber** p = &c->subs; *p; p = &(*p)->next) {
            if (*p == s) {
                *p = s->next;
                break;
            }
        }
        if (c->fd >= 0) {
            uint8_t req[4];
            feedwire_put_u32(req, s->id);
            feedwire_send(c->fd, FEEDWIRE_MBX_UNSUBSCRIBE, req, sizeof(req));
        }
        pthread_mutex_unlock(&c->lock);
        if (!own)
            pthread_mutex_unlock(&c->dispatch);
    }
    free(s->config.topic);
    free(s->config.source);
    free(s);
}

/* MESSAGES */

MBX_API const struct timespec* mbx_message_get_timestamp(const mbx_message* message)
{
    return message ? &message->timestamp : NULL;
}

MBX_API const mbx_payload* mbx_message_get_payload(const mbx_message* message)
{
    return message && message->payload.data ? &message->payload : NULL;
}
