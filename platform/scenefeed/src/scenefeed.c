#define _GNU_SOURCE
#include "scenefeed.h"

#include <errno.h>
#include <poll.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "feedwire.h"
#include "feedwire_thread.h"
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
    atomic_int done; /* the library thread has finished */
    int first_fd;    /* connection opened by subscribe, handed to the thread */
    feedwire_thread worker;
};

/* CONNECTION */

static int open_feed(scenefeed_subscriber* h)
{
    uint8_t req[12];
    feedwire_put_u32(req, (uint32_t)h->channel);
    feedwire_put_u32(req + 4, SCENEFEED_FORMAT_FRAMED_PROTOBUF);
    feedwire_put_u32(req + 8, atomic_load(&h->options));
    return feedwire_subscribe(FEEDWIRE_SCENEFEED_SOCKET, FEEDWIRE_SCENE_SUBSCRIBE, req, sizeof(req),
                              FEEDWIRE_SCENE_SUBSCRIBED, h->worker.wake_fd, SUBSCRIBE_TIMEOUT_MS,
                              NULL);
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
    struct pollfd pfd = {.fd = h->worker.wake_fd, .events = POLLIN};
    poll(&pfd, 1, ms);
    return feedwire_thread_stopping(&h->worker);
}

/* LIBRARY THREAD */

static void* feed_thread(void* arg)
{
    scenefeed_subscriber* h = arg;
    int deleted = 0;
    feedwire_thread_enter(&h->worker, &deleted);
    int fd = h->first_fd;
    h->first_fd = -1;
    unsigned dropped = 0;

    while (!feedwire_thread_stopping(&h->worker)) {
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
        while (!feedwire_thread_stopping(&h->worker)) {
            feedwire_header hdr;
            uint8_t* body = NULL;
            if (feedwire_next_frame(fd, h->worker.wake_fd, FEEDWIRE_SCENE_FRAME, "libscenefeed",
                                    &hdr, &body) != FEEDWIRE_OK)
                break;
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
    feedwire_thread_leave(&h->worker);
    atomic_store(&h->done, 1);
    return NULL;
}

/* API */

/* Callbacks are set before the library thread starts. */
static int callback_guard(const scenefeed_subscriber* h)
{
    if (!h)
        return -EINVAL;
    return h->worker.started ? -EBUSY : 0;
}

SCENEFEED_API scenefeed_subscriber* scenefeed_create(int channel, int format, void* client)
{
    if (channel < 0 || format != SCENEFEED_FORMAT_FRAMED_PROTOBUF)
        return NULL;
    scenefeed_subscriber* h = calloc(1, sizeof(*h));
    if (!h)
        return NULL;
    if (feedwire_thread_init(&h->worker) != 0) {
        free(h);
        return NULL;
    }
    h->channel = channel;
    h->client = client;
    h->first_fd = -1;
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
    int rc = callback_guard(h);
    if (rc == 0)
        h->on_connect = cb;
    return rc;
}

SCENEFEED_API int scenefeed_set_on_disconnect_callback(scenefeed_subscriber* h,
                                                       scenefeed_connection_callback cb)
{
    int rc = callback_guard(h);
    if (rc == 0)
        h->on_disconnect = cb;
    return rc;
}

SCENEFEED_API int scenefeed_set_on_message_arrived_callback(scenefeed_subscriber* h,
                                                            scenefeed_message_callback cb)
{
    int rc = callback_guard(h);
    if (rc == 0)
        h->on_message = cb;
    return rc;
}

/* Subscription options take effect on the next (re)connection. */
static int enable_option(scenefeed_subscriber* h, unsigned bit)
{
    SETTER_GUARD(h);
    atomic_fetch_or(&h->options, bit);
    return 0;
}

SCENEFEED_API int scenefeed_set_velocity_enabled(scenefeed_subscriber* h)
{
    return enable_option(h, FEEDWIRE_SCENE_VELOCITY);
}

SCENEFEED_API int scenefeed_set_bounding_box_enabled(scenefeed_subscriber* h)
{
    return enable_option(h, FEEDWIRE_SCENE_BOX);
}

SCENEFEED_API int scenefeed_set_low_confident_enabled(scenefeed_subscriber* h)
{
    return enable_option(h, FEEDWIRE_SCENE_LOW_CONFIDENT);
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
    if (h->worker.started) {
        if (feedwire_thread_is_self(&h->worker) ||
            (!feedwire_thread_stopping(&h->worker) && !atomic_load(&h->done)))
            return -EBUSY;
        feedwire_thread_stop(&h->worker, 0);
    }
    feedwire_thread_reset(&h->worker);
    atomic_store(&h->done, 0);
    int fd = open_feed(h);
    if (fd < 0 && !atomic_load(&h->reconnect))
        return -EIO;
    h->first_fd = fd;
    if (feedwire_thread_start(&h->worker, feed_thread, h) != 0) {
        if (fd >= 0)
            close(fd);
        h->first_fd = -1;
        return -EAGAIN;
    }
    return 0;
}

SCENEFEED_API int scenefeed_unsubscribe(scenefeed_subscriber* h)
{
    SETTER_GUARD(h);
    if (!h->worker.started)
        return -EINVAL;
    feedwire_thread_stop(&h->worker, 0);
    return 0;
}

SCENEFEED_API int scenefeed_delete(scenefeed_subscriber* h)
{
    SETTER_GUARD(h);
    feedwire_thread_stop(&h->worker, 1);
    if (h->first_fd >= 0)
        close(h->first_fd);
    feedwire_thread_destroy(&h->worker);
    free(h);
    return 0;
}
