/*
 * libdetfeed: subscriber to the camera's object-detection feed.
 *
 * A subscription delivers one serialised VOD.Scene (vod.proto) per analysed
 * frame of one video channel, on a thread of the library. The frames come
 * from the simulated camera over the Unix socket "/run/camsim/detfeed.sock"
 * (under $CAMROOT when set); the framing is described in feedwire.h.
 *
 * Life of a subscription
 *   detfeed_create -> set callbacks -> detfeed_subscribe -> frames ...
 *   -> detfeed_unsubscribe -> detfeed_delete.
 *   When the feed goes away (camera gone, connection lost or refused, a
 *   stream that cannot be parsed) the subscription stops by itself:
 *   detfeed_running() turns 0 and the teardown callback runs once on the
 *   library thread. A new subscription must then be created.
 *
 * Callbacks run on the library thread. From inside them the subscription may
 * be unsubscribed and deleted; the library does not touch it afterwards.
 *
 * Frames whose protobuf part does not decode as a VOD.Scene are dropped
 * (and counted on stderr); they never reach the detection callback. Frames
 * without detections or events are delivered only after
 * detfeed_set_receive_empty_hits(handle, 1).
 *
 * Results: 0 is success, negative values are failures, unless noted.
 */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct detfeed_subscriber detfeed_subscriber;
typedef struct detfeed_det_class detfeed_det_class;

/* One serialised VOD.Scene of `length` bytes, valid during the call. */
typedef void (*detfeed_detection_callback)(const uint8_t* data, size_t length, void* user_data);
/* The feed was torn down; detfeed_running() is already 0. */
typedef void (*detfeed_teardown_callback)(void* user_data);

/* New, unsubscribed subscription for the 0-based channel index. user_data
 * is handed to both callbacks; client is an opaque tag of the subscriber,
 * kept with the subscription and not interpreted. */
int detfeed_create(detfeed_subscriber** handle, void* user_data, int channel, void* client);
int detfeed_set_get_detection_callback(detfeed_subscriber* handle, detfeed_detection_callback cb);
int detfeed_set_teardown_callback(detfeed_subscriber* handle, detfeed_teardown_callback cb);
/* 1: deliver frames without detections too; 0: skip them (default). May be
 * changed while subscribed. */
int detfeed_set_receive_empty_hits(detfeed_subscriber* handle, int enable);

/* Starts delivery. Fails when already subscribed; a camera that cannot be
 * reached is reported through the teardown callback. */
int detfeed_subscribe(detfeed_subscriber* handle);
/* Non-zero while the subscription runs (subscribed and not torn down). */
int detfeed_running(detfeed_subscriber* handle);
/* Stops delivery; fails when the subscription was never subscribed. */
int detfeed_unsubscribe(detfeed_subscriber* handle);
/* Stops delivery when needed, frees the subscription and clears *handle. */
int detfeed_delete(detfeed_subscriber** handle);

/* Object classes of the detector, asked of the camera. Returns the count
 * (0 or more) with a new array in *classes, or a negative value (then
 * *classes is NULL). Free with detfeed_det_classes_free. */
int detfeed_det_classes_get(detfeed_det_class*** classes);
int detfeed_det_class_id(const detfeed_det_class* cls);
/* Library-owned text, valid until detfeed_det_classes_free. */
const char* detfeed_det_class_name(const detfeed_det_class* cls);
void detfeed_det_classes_free(detfeed_det_class** classes, int count);

/* Number of channels with a detector, and how many run at the same time. */
int detfeed_get_nbr_channels(int* count);
int detfeed_get_nbr_channels_simultaneously(int* count);

/* Serialised VOD.DetectorInformation in a malloc'd *buffer of *length bytes
 * (the caller frees it with free()). */
int detfeed_get_detector_information(uint8_t** buffer, size_t* length);

#ifdef __cplusplus
}
#endif
