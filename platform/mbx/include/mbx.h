/*
 * libmbx: client of the camera's message broker.
 *
 * A connection links the process to the broker (the simulated camera's Unix
 * socket "/run/camsim/mbx.sock", under $CAMROOT when set; framing in
 * feedwire.h). Subscribers receive the messages published on one topic by
 * one source (for per-channel topics the source is the channel number as
 * decimal text, "1" for the first channel), on the connection's thread.
 *
 * When the broker goes away the error callback is called (code
 * MBX_ERROR_CONNECTION_LOST) and the connection keeps trying to come back
 * every half second; once it is back every subscriber is subscribed again
 * and messages flow as before.
 *
 * Callbacks run on the connection's thread. A subscriber may be destroyed
 * from inside its own message callback. The connection must not be
 * destroyed from inside a callback.
 *
 * Errors: functions that can fail take an out error (may be NULL); on
 * failure they return NULL and set *error to a new error object that the
 * caller frees with mbx_error_destroy.
 */
#pragma once

#include <stddef.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

enum mbx_error_code {
    MBX_ERROR_INVALID_ARGUMENT = 1,
    MBX_ERROR_NO_MEMORY = 2,
    MBX_ERROR_CONNECTION_FAILED = 3, /* broker unreachable at create */
    MBX_ERROR_CONNECTION_LOST = 4,   /* reported through the error callback */
    MBX_ERROR_REFUSED = 5,           /* the broker refused a request */
};

typedef struct mbx_error {
    int code;
    char* message;
} mbx_error;

/* Payload of a message: `size` bytes of text at `data`, followed by a NUL
 * that is not counted. */
typedef struct mbx_payload {
    const char* data;
    size_t size;
} mbx_payload;

typedef struct mbx_connection mbx_connection;
typedef struct mbx_subscriber_config mbx_subscriber_config;
typedef struct mbx_subscriber mbx_subscriber;
typedef struct mbx_message mbx_message;

typedef void (*mbx_error_callback)(const mbx_error* error, void* user_data);
/* A message, valid during the call only. */
typedef void (*mbx_message_callback)(const mbx_message* message, void* user_data);
/* The broker confirmed (error NULL) or refused the subscription. */
typedef void (*mbx_subscriber_ready_callback)(mbx_subscriber* subscriber, const mbx_error* error,
                                              void* user_data);

mbx_connection* mbx_connection_create(mbx_error_callback on_error, void* user_data,
                                      mbx_error** error);
void mbx_connection_destroy(mbx_connection** connection);

/* Topic and source are copied. */
mbx_subscriber_config* mbx_subscriber_config_create(const char* topic, const char* source,
                                                    mbx_message_callback on_message,
                                                    void* user_data, mbx_error** error);
void mbx_subscriber_config_destroy(mbx_subscriber_config** config);

/* Subscribes without waiting for the broker; on_ready (may be NULL) tells
 * the outcome. The configuration may be destroyed right after. */
mbx_subscriber* mbx_subscriber_create_async(mbx_connection* connection,
                                            const mbx_subscriber_config* config,
                                            mbx_subscriber_ready_callback on_ready,
                                            void* ready_user_data, mbx_error** error);
void mbx_subscriber_destroy(mbx_subscriber** subscriber);

void mbx_error_destroy(mbx_error** error);

/* Time stamp of the message (CLOCK_MONOTONIC of the camera for the
 * analytics topics), or NULL. */
const struct timespec* mbx_message_get_timestamp(const mbx_message* message);
/* The payload, or NULL. */
const mbx_payload* mbx_message_get_payload(const mbx_message* message);

#ifdef __cplusplus
}
#endif
