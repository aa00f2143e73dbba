#define _GNU_SOURCE
#include "scenefeed.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "feedwire.h"
#include "scene.pb-c.h"

#define SCENEFEED_API __attribute__((visibility("default")))
#define SUBSCRIBE_TIMEOUT_MS 2000
#define RECONNECT_DELAY_MS 500

struct scenefeed_subscriber {
    int channel;
    void* client;
    scenefeed_connection_callback on_connect;
    scenefeed_connection_callback on_disconnect;
    scenefeed_message_callback on_message;
    atomic_uint options;
    atomic_int reconnect;
    atomic_int stop;
    atomic_int done; /* the library thread has finished */
    int wake_fd;
    int first_fd; /* connection opened by subscribe, handed to the thread */
    int thread_started;
    pthread_t thread;
    int* deleted_flag; /* see the library thread */
    pthread_mutex_t lock;
};

/* CONNECTION */

static int open_feed(scenefeed_subscriber* h)
{
    int fd = feedwire_connect(FEEDWIRE_SCENEFEED_SOCKET);
    if (fd < 0)
        return -1;
    uint8_t req[12];
    feedwire_put_u32(req, (uint32_t)h->channel);
    feedwire_put_u32(req + 4, SCENEFEED_FORMAT_FRAMED_PROTOBUF);
    feedwire_put_u32(req + 8, atomic_load(&h->options));
    if (feedwire_send(fd, FEEDWIRE_SCENE_SUBSCRIBE, req, sizeof(req)) != FEEDWIRE_OK) {
        close(fd);
        return -1;
    }
    feedwire_header hdr;
    uint8_t* body = NULL;
    int rc = feedwire_recv(fd, h->wake_fd, SUBSCRIBE_TIMEOUT_MS, &hdr, &body);
    free(body);
    if (rc != FEEDWIRE_OK || hdr.type != FEEDWIRE_SCENE_SUBSCRIBED) {
        close(fd);
        return -1;
    }
    return fd;
}

/* Hands out a copy of a framed message when it is well formed. */
static uint8_t* checked_message(const uint8_t* payload, uint32_t length)
{
    if (length < 4 || feedwire_get_u32(payload) != length)
        return NULL;
    Scene__Scene* scene = scene__scene__unpack(NULL, length - 4, payload + 4);
    if (!scene)
        return NULL;
    scene__scene__free_unpacked(scene, NULL);
    uint8_t* copy = malloc(length);
    if (copy)
        memcpy(copy, payload, length);
    return copy;
}

/* Waits ms unless asked to stop; returns non-zero when asked. */
static int pause_or_stop(scenefeed_subscriber* h, int ms)
{
    struct pollfd pfd = {.fd = h->wake_fd, .events = POLLIN};
    poll(&pfd, 1, ms);
    return atomic_load(&h->stop);
}

/* LIBRARY THREAD */

static void* feed_thread(void* arg)
{
    scenefeed_subscriber* h = arg;
    int deleted = 0;
    pthread_mutex_lock(&h->lock);
    h->deleted_flag = &deleted;
    int fd = h->first_fd;
    h->first_fd = -1;
    pthread_mutex_unlock(&h->lock);
    unsigned dropped = 0;

    while (!atomic_load(&h->stop)) {
        if (fd < 0)
            fd = open_feed(h);
        if (fd < 0) {
            if (!atomic_load(&h->reconnect) || pause_or_stop(h, RECONNECT_DELAY_MS))
                break;
            continue;
        }
        if (h->on_connect) {
            h->on_connect(h->client);
            if (deleted) {
                close(fd);
                return NULL;
            }
        }
        while (!atomic_load(&h->stop)) {
            feedwire_header hdr;
            uint8_t* body = NULL;
            int rc = feedwire_recv(fd, h->wake_fd, -1, &hdr, &body);
            if (rc == FEEDWIRE_EMALFORMED)
                fprintf(stderr,
                        "libscenefeed: malformed frame on the feed, dropping the connection\n");
            if (rc != FEEDWIRE_OK)
                break;
            if (hdr.type == FEEDWIRE_ERROR) {
                free(body);
                break;
            }
            if (hdr.type != FEEDWIRE_SCENE_FRAME) {
                free(body);
                continue;
            }
            uint8_t* message = checked_message(body, hdr.length);
            free(body);
            if (!message) {
                if (dropped++ % 100 == 0)
                    fprintf(stderr, "libscenefeed: dropped %u malformed message(s)\n", dropped);
                continue;
            }
            if (!h->on_message) {
                free(message);
                continue;
            }
            h->on_message(message);
            if (deleted) {
                close(fd);
                return NULL;
            }
        }
        close(fd);
        fd = -1;
        if (h->on_disconnect) {
            h->on_disconnect(h->client);
            if (deleted)
                return NULL;
        }
        if (!atomic_load(&h->reconnect) || pause_or_stop(h, RECONNECT_DELAY_MS))
            break;
    }
    if (fd >= 0)
        close(fd);
    pthread_mutex_lock(&h->lock);
    h->deleted_flag = NULL;
    pthread_mutex_unlock(&h->lock);
    atomic_store(&h->done, 1);
    return NULL;
}

static void stop_thread(scenefeed_subscriber* h, int for_delete)
{
    if (!h->thread_started)
        return;
    atomic_store(&h->stop, 1);
    uint64_t one = 1;
    if (write(h->wake_fd, &one, sizeof(one)) < 0) {
        /* eventfd counter cannot overflow here */
    }
    if (pthread_equal(pthread_self(), h->thread)) {
        /* From a callback: the thread ends when the callback returns. */
        if (for_delete) {
            pthread_mutex_lock(&h->lock);
            if (h->deleted_flag)
                *h->deleted_flag = 1;
            pthread_mutex_unlock(&h->lock);
            pthread_detach(h->thread);
            h->thread_started = 0;
        }
        return;
    }
    pthread_join(h->thread, NULL);
    h->thread_started = 0;
}

/* API */

SCENEFEED_API scenefeed_subscriber* scenefeed_create(int channel, int format, void* client)
{
    if (channel < 0 || format != SCENEFEED_FORMAT_FRAMED_PROTOBUF)
        return NULL;
    scenefeed_subscriber* h = calloc(1, sizeof(*h));
    if (!h)
        return NULL;
    h->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (h->wake_fd < 0) {
        free(h);
        return NULL;
    }
    h->channel = channel;
    h->client = client;
    h->first_fd = -1;
    pthread_mutex_init(&h->lock, NULL);
    return h;
}

#define SETTER_GUARD(h)                                                                            \
    do {                                                                                           \
        if (!(h))                                                                                  \
            return -EINVAL;                                                                        \
    } while (0)

SCENEFEED_API int scenefeed_set_on_connect_callback(scenefeed_subscriber* h,
                                                    scenefeed_connection_callback cb)
{
    SETTER_GUARD(h);
    if (h->thread_started)
        return -EBUSY;
    h->on_connect = cb;
    return 0;
}

SCENEFEED_API int scenefeed_set_on_disconnect_callback(scenefeed_subscriber* h,
                                                       scenefeed_connection_callback cb)
{
    SETTER_GUARD(h);
    if (h->thread_started)
        return -EBUSY;
    h->on_disconnect = cb;
    return 0;
}

SCENEFEED_API int scenefeed_set_on_message_arrived_callback(scenefeed_subscriber* h,
                                                            scenefeed_message_callback cb)
{
    SETTER_GUARD(h);
    if (h->thread_started)
        return -EBUSY;
    h->on_message = cb;
    return 0;
}

SCENEFEED_API int scenefeed_set_velocity_enabled(scenefeed_subscriber* h)
{
    SETTER_GUARD(h);
    atomic_fetch_or(&h->options, FEEDWIRE_SCENE_VELOCITY);
    return 0;
}

SCENEFEED_API int scenefeed_set_bounding_box_enabled(scenefeed_subscriber* h)
{
    SETTER_GUARD(h);
    atomic_fetch_or(&h->options, FEEDWIRE_SCENE_BOX);
    return 0;
}

SCENEFEED_API int scenefeed_set_low_confident_enabled(scenefeed_subscriber* h)
{
    SETTER_GUARD(h);
    atomic_fetch_or(&h->options, FEEDWIRE_SCENE_LOW_CONFIDENT);
    return 0;
}

SCENEFEED_API int scenefeed_set_reconnect(scenefeed_subscriber* h, int enable)
{
    SETTER_GUARD(h);
    atomic_store(&h->reconnect, enable ? 1 : 0);
    return 0;
}

SCENEFEED_API int scenefeed_subscribe(scenefeed_subscriber* h)
{
    SETTER_GUARD(h);
    if (h->thread_started) {
        if (pthread_equal(pthread_self(), h->thread) ||
            (!atomic_load(&h->stop) && !atomic_load(&h->done)))
            return -EBUSY;
        stop_thread(h, 0);
    }
    uint64_t drain;
    while (read(h->wake_fd, &drain, sizeof(drain)) > 0) {
    }
    atomic_store(&h->stop, 0);
    atomic_store(&h->done, 0);
    int fd = open_feed(h);
    if (fd < 0 && !atomic_load(&h->reconnect))
        return -EIO;
    h->first_fd = fd;
    if (pthread_create(&h->thread, NULL, feed_thread, h) != 0) {
        if (fd >= 0)
            close(fd);
        h->first_fd = -1;
        return -EAGAIN;
    }
    h->thread_started = 1;
    return 0;
}

SCENEFEED_API int scenefeed_unsubscribe(scenefeed_subscriber* h)
{
    SETTER_GUARD(h);
    if (!h->thread_started)
        return -EINVAL;
    stop_thread(h, 0);
    return 0;
}

SCENEFEED_API int scenefeed_delete(scenefeed_subscriber* h)
{
    SETTER_GUARD(h);
    stop_thread(h, 1);
    if (h->first_fd >= 0)
        close(h->first_fd);
    close(h->wake_fd);
    pthread_mutex_destroy(&h->lock);
    free(h);
    return 0;
}
