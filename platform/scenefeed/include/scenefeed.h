/*
 * libscenefeed: subscriber to the camera's scene feed (tracked objects with
 * velocities, and tracker events).
 *
 * Every message is handed over as one heap buffer holding a 32-bit
 * big-endian length word followed by a serialised Scene.Scene (scene.proto);
 * the length word counts itself, so the protobuf part is (word - 4) bytes.
 * The buffer belongs to the receiver, who frees it with free().
 *
 * Messages come from the simulated camera over the Unix socket
 * "/run/camsim/scenefeed.sock" (under $CAMROOT when set); the framing of the
 * socket is described in feedwire.h. Messages whose length word does not
 * match or whose protobuf part does not decode are dropped, never handed
 * over; a stream that cannot be parsed counts as a lost connection.
 *
 * Connection: the connect callback runs when the feed is established, the
 * disconnect callback when an established feed is lost or unsubscribed.
 * With reconnection on (scenefeed_set_reconnect(h, 1)) the library keeps
 * trying every half second until the camera is back, then calls the connect
 * callback again. Callbacks run on the library thread; from inside them the
 * subscriber may be unsubscribed or deleted.
 *
 * Results: 0 is success; every call given a NULL handle fails with a
 * negative value and does nothing else.
 */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Message format of scenefeed_create: length-framed protobuf Scene. The
 * only format this library speaks. */
#define SCENEFEED_FORMAT_FRAMED_PROTOBUF 3

typedef struct scenefeed_subscriber scenefeed_subscriber;

typedef void (*scenefeed_connection_callback)(void* client);
/* One framed message; the buffer is the receiver's to free(). */
typedef void (*scenefeed_message_callback)(uint8_t* buffer);

/* New subscriber for the 0-based channel index in the given format; client
 * is handed to the connection callbacks. NULL on failure (bad channel or
 * format, out of memory). */
scenefeed_subscriber* scenefeed_create(int channel, int format, void* client);

int scenefeed_set_on_connect_callback(scenefeed_subscriber* h, scenefeed_connection_callback cb);
int scenefeed_set_on_disconnect_callback(scenefeed_subscriber* h, scenefeed_connection_callback cb);
int scenefeed_set_on_message_arrived_callback(scenefeed_subscriber* h,
                                              scenefeed_message_callback cb);

/* Ask for object velocities, bounding boxes, and for objects the tracker is
 * not yet confident about. Take effect at the next (re)connection. */
int scenefeed_set_velocity_enabled(scenefeed_subscriber* h);
int scenefeed_set_bounding_box_enabled(scenefeed_subscriber* h);
int scenefeed_set_low_confident_enabled(scenefeed_subscriber* h);
/* 1: reconnect by itself after a loss (and keep trying at subscribe). */
int scenefeed_set_reconnect(scenefeed_subscriber* h, int enable);

/* Starts delivery. Without reconnection, a camera that cannot be reached
 * fails the call; with it, the library keeps trying in the background. */
int scenefeed_subscribe(scenefeed_subscriber* h);
int scenefeed_unsubscribe(scenefeed_subscriber* h);
/* Unsubscribes when needed and frees the subscriber. */
int scenefeed_delete(scenefeed_subscriber* h);

#ifdef __cplusplus
}
#endif
