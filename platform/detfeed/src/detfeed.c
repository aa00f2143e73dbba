#define _GNU_SOURCE
#include "detfeed.h"

#include <errno.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "feedwire.h"
#include "feedwire_thread.h"
#include "vod.pb-c.h"

#define DETFEED_API __attribute__((visibility("default")))
#define REQUEST_TIMEOUT_MS 1000
#define SUBSCRIBE_TIMEOUT_MS 2000

struct detfeed_det_class {
    int id;
    char* name;
};

struct detfeed_subscriber {
    int channel;
    void* user_data;
    void* client;
    detfeed_detection_callback on_detection;
    detfeed_teardown_callback on_teardown;
    atomic_int empty_hits;
    atomic_int running;
    feedwire_thread worker;
};

/* LIBRARY THREAD */

static int scene_has_content(const VOD__Scene* scene)
{
    return scene->n_detections > 0 || scene->n_events > 0;
}

/* Connects and subscribes; -1 when the camera cannot be reached or refuses. */
static int open_feed(detfeed_subscriber* h)
{
    uint8_t req[4];
    feedwire_put_u32(req, (uint32_t)h->channel);
    int refused;
    int fd = feedwire_subscribe(FEEDWIRE_DETFEED_SOCKET, FEEDWIRE_DET_SUBSCRIBE, req, sizeof(req),
                                FEEDWIRE_DET_SUBSCRIBED, h->worker.wake_fd, SUBSCRIBE_TIMEOUT_MS,
                                &refused);
    if (refused)
        fprintf(stderr, "libdetfeed: channel %d refused by the camera\n", h->channel);
    return fd;
}

static void* feed_thread(void* arg)
{
    detfeed_subscriber* h = arg;
    int deleted = 0;
    feedwire_thread_enter(&h->worker, &deleted);

    int fd = open_feed(h);
    unsigned dropped = 0;
    while (fd >= 0 && !feedwire_thread_stopping(&h->worker)) {
        feedwire_header hdr;
        uint8_t* body = NULL;
        if (feedwire_next_frame(fd, h->worker.wake_fd, FEEDWIRE_DET_FRAME, "libdetfeed", &hdr,
                                &body) != FEEDWIRE_OK)
            break;
        VOD__Scene* scene = vod__scene__unpack(NULL, hdr.length, body);
        if (!scene) {
            if (dropped++ % 100 == 0)
                fprintf(stderr, "libdetfeed: dropped %u undecodable frame(s)\n", dropped);
            free(body);
            continue;
        }
        int deliver = scene_has_content(scene) || atomic_load(&h->empty_hits);
        vod__scene__free_unpacked(scene, NULL);
        if (deliver && h->on_detection && !feedwire_thread_stopping(&h->worker)) {
            h->on_detection(body, hdr.length, h->user_data);
            if (deleted) {
                free(body);
                close(fd);
                return NULL;
            }
        }
        free(body);
    }
    if (fd >= 0)
        close(fd);

    atomic_store(&h->running, 0);
    if (!feedwire_thread_stopping(&h->worker) && h->on_teardown) {
        h->on_teardown(h->user_data);
        if (deleted)
            return NULL;
    }
    feedwire_thread_leave(&h->worker);
    return NULL;
}

/* SUBSCRIPTION */

DETFEED_API int detfeed_create(detfeed_subscriber** handle, void* user_data, int channel,
                               void* client)
{
    if (!handle)
        return -EINVAL;
    *handle = NULL;
    if (channel < 0)
        return -EINVAL;
    detfeed_subscriber* h = calloc(1, sizeof(*h));
    if (!h)
        return -ENOMEM;
    if (feedwire_thread_init(&h->worker) != 0) {
        free(h);
        return -EMFILE;
    }
    h->channel = channel;
    h->user_data = user_data;
    h->client = client;
    *handle = h;
    return 0;
}

DETFEED_API int detfeed_set_get_detection_callback(detfeed_subscriber* handle,
                                                   detfeed_detection_callback cb)
{
    if (!handle || handle->worker.started)
        return -EINVAL;
    handle->on_detection = cb;
    return 0;
}

DETFEED_API int detfeed_set_teardown_callback(detfeed_subscriber* handle,
                                              detfeed_teardown_callback cb)
{
    if (!handle || handle->worker.started)
        return -EINVAL;
    handle->on_teardown = cb;
    return 0;
}

DETFEED_API int detfeed_set_receive_empty_hits(detfeed_subscriber* handle, int enable)
{
    if (!handle)
        return -EINVAL;
    atomic_store(&handle->empty_hits, enable ? 1 : 0);
    return 0;
}

DETFEED_API int detfeed_subscribe(detfeed_subscriber* handle)
{
    if (!handle)
        return -EINVAL;
    if (handle->worker.started) {
        if (atomic_load(&handle->running) || feedwire_thread_is_self(&handle->worker))
            return -EBUSY;
        feedwire_thread_stop(&handle->worker, 0);
    }
    feedwire_thread_reset(&handle->worker);
    atomic_store(&handle->running, 1);
    if (feedwire_thread_start(&handle->worker, feed_thread, handle) != 0) {
        atomic_store(&handle->running, 0);
        return -EAGAIN;
    }
    return 0;
}

DETFEED_API int detfeed_running(detfeed_subscriber* handle)
{
    return handle ? atomic_load(&handle->running) : 0;
}

DETFEED_API int detfeed_unsubscribe(detfeed_subscriber* handle)
{
    if (!handle || !handle->worker.started)
        return -EINVAL;
    feedwire_thread_stop(&handle->worker, 0);
    atomic_store(&handle->running, 0);
    return 0;
}

DETFEED_API int detfeed_delete(detfeed_subscriber** handle)
{
    if (!handle || !*handle)
        return -EINVAL;
    detfeed_subscriber* h = *handle;
    *handle = NULL;
    feedwire_thread_stop(&h->worker, 1);
    feedwire_thread_destroy(&h->worker);
    free(h);
    return 0;
}

/* DETECTOR DESCRIPTION */

DETFEED_API int detfeed_get_detector_information(uint8_t** buffer, size_t* length)
{
    if (!buffer || !length)
        return -EINVAL;
    uint8_t* reply = NULL;
    size_t len = 0;
    if (feedwire_request(FEEDWIRE_DETFEED_SOCKET, FEEDWIRE_DET_INFO_REQUEST, NULL, 0,
                         FEEDWIRE_DET_INFO, REQUEST_TIMEOUT_MS, &reply, &len) != FEEDWIRE_OK)
        return -EIO;
    *buffer = reply;
    *length = len;
    return 0;
}

DETFEED_API int detfeed_det_classes_get(detfeed_det_class*** classes)
{
    if (!classes)
        return -EINVAL;
    *classes = NULL;
    uint8_t* buf = NULL;
    size_t len = 0;
    if (detfeed_get_detector_information(&buf, &len) != 0)
        return -EIO;
    VOD__DetectorInformation* info = vod__detector_information__unpack(NULL, len, buf);
    free(buf);
    if (!info)
        return -EPROTO;
    int count = (int)info->n_classes;
    detfeed_det_class** out = calloc((size_t)count + 1, sizeof(*out));
    int rc = out ? count : -ENOMEM;
    for (int i = 0; out && i < count; i++) {
        out[i] = calloc(1, sizeof(**out));
        if (out[i])
            out[i]->name = strdup(info->classes[i]->name ? info->classes[i]->name : "");
        if (!out[i] || !out[i]->name) {
            detfeed_det_classes_free(out, count);
            out = NULL;
            rc = -ENOMEM;
            break;
        }
        out[i]->id = (int)info->classes[i]->id;
    }
    vod__detector_information__free_unpacked(info, NULL);
    *classes = out;
    return rc;
}

DETFEED_API int detfeed_det_class_id(const detfeed_det_class* cls)
{
    return cls ? cls->id : -1;
}

DETFEED_API const char* detfeed_det_class_name(const detfeed_det_class* cls)
{
    return cls ? cls->name : NULL;
}

DETFEED_API void detfeed_det_classes_free(detfeed_det_class** classes, int count)
{
    if (!classes)
        return;
    for (int i = 0; i < count; i++) {
        if (classes[i])
            free(classes[i]->name);
        free(classes[i]);
    }
    free(classes);
}

static int get_channels(int* count, int second)
{
    if (!count)
        return -EINVAL;
    uint8_t* reply = NULL;
    size_t len = 0;
    if (feedwire_request(FEEDWIRE_DETFEED_SOCKET, FEEDWIRE_DET_CHANNELS_REQUEST, NULL, 0,
                         FEEDWIRE_DET_CHANNELS, REQUEST_TIMEOUT_MS, &reply, &len) != FEEDWIRE_OK)
        return -EIO;
    int rc = -EPROTO;
    if (len >= 8) {
        *count = (int)feedwire_get_u32(reply + (second ? 4 : 0));
        rc = 0;
    }
    free(reply);
    return rc;
}

DETFEED_API int detfeed_get_nbr_channels(int* count)
{
    return get_channels(count, 0);
}

DETFEED_API int detfeed_get_nbr_channels_simultaneously(int* count)
{
    return get_channels(count, 1);
}
