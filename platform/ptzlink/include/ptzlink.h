/* libptzlink: client of the camera's PTZ control socket.
 *
 * The library never opens its socket itself: the application installs a
 * connect callback that obtains one (on the camera: from the PTZ D-Bus
 * service's CreateSocketAsAutotracker) and a disconnect callback that gives it
 * back. Requests are synchronous, one at a time per client, each with a
 * time-out (500 ms, or PTZLINK_TIMEOUT_MS from the environment at client
 * creation). All functions are thread-safe. Every function returns 0 on
 * success and one of the negative PTZLINK_ERR_* codes on failure.
 *
 * The callbacks run on the calling thread while the client is locked: they
 * must not call back into the library for the same client.
 */
#ifndef PTZLINK_H
#define PTZLINK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PTZLINK_OK 0
#define PTZLINK_ERR_ARGUMENT (-1)      /* unknown client handle or bad argument */
#define PTZLINK_ERR_NOT_CONNECTED (-2) /* not started, or the connect callback failed */
#define PTZLINK_ERR_TIMEOUT (-3)       /* no reply in time */
#define PTZLINK_ERR_IO (-4)            /* socket closed or failed (the driver went away) */
#define PTZLINK_ERR_PROTOCOL (-5)      /* malformed reply */
#define PTZLINK_ERR_REFUSED (-6)       /* the driver refused the request */
#define PTZLINK_ERR_NO_RECORD (-8)     /* the data cache has no record for that time */

/* Space kinds of ptzlink_space.kind. */
#define PTZLINK_SPACE_KIND_PANTILT_SPEED 256
#define PTZLINK_SPACE_KIND_ZOOM_SPEED 512

/* One entry of the driver's space list (24 bytes). */
typedef struct ptzlink_space {
    int32_t kind;    /* PTZLINK_SPACE_KIND_* */
    int32_t id;      /* space identifier within the kind */
    float min_speed; /* range of speed values accepted */
    float max_speed;
    int32_t axes; /* bit 0 pan, bit 1 tilt, bit 2 zoom */
    int32_t reserved;
} ptzlink_space;

/* Obtains the control socket for `channel`: stores a connected socket in
 * *socket_fd (the library owns and closes it) and a handle in *socket_handle
 * that is given back to the disconnect callback. Returns 0 on success. */
typedef int (*ptzlink_connect_fn)(int channel, int* socket_fd, int* socket_handle, void* user_data);
/* Releases the socket obtained with `socket_handle` (already closed). */
typedef int (*ptzlink_disconnect_fn)(int channel, int socket_handle, void* user_data);

/* Creates a client for a channel (1-based); flags must be 0. Returns a
 * handle > 0, or a negative error. */
int ptzlink_client_create(int channel, int flags);
int ptzlink_client_set_dbus_interface(int client, ptzlink_connect_fn connect_fn,
                                      ptzlink_disconnect_fn disconnect_fn, void* user_data);
/* Starts the client (flags 0) and obtains the socket. When that fails the
 * client stays started and later requests try again. */
int ptzlink_client_start(int client, int flags);
/* Gives the socket back; requests fail until the next start. */
int ptzlink_client_stop(int client);
/* Stops (if needed) and frees the client; the handle becomes invalid. */
int ptzlink_client_delete(int client);

/* Moves continuously at the given speeds, read in the selected spaces, until
 * the next move (0, 0, 0 stops). */
int ptzlink_continuous_move(int client, double pan, double tilt, double zoom);

/* The driver's spaces: *count entries in *spaces, the index of the selected
 * pan/tilt entry in *selected, and in *names a text block with one line per
 * entry naming it. The caller frees *spaces and *names with free(). `selected`
 * and `names` may be NULL. */
int ptzlink_get_spaces(int client, int* count, ptzlink_space** spaces, int* selected, char** names);

/* Selects the spaces in which later speeds are read. pantilt_space is
 * PTZLINK_SPACE_KIND_PANTILT_SPEED | s with s = 1 (proportional, space 1) or
 * s = 2 (alternate, space 3); zoom_space is 1 or 2 (zoom speeds are the same
 * in both). */
int ptzlink_set_spaces(int client, int pantilt_space, int zoom_space);

/* The camera position at CLOCK_MONOTONIC time seconds + microseconds (both 0:
 * now) from the driver's data cache, which holds the last 10 seconds.
 * status: driver status bits (0x01 pan, 0x02 tilt, 0x10 zoom moving, 0x04
 * positioning, 0x08 at a limit); pan_speed and tilt_speed in degrees per
 * second; zoom is the zoom factor (1 = widest). Any pointer may be NULL. */
int ptzlink_get_datacache_value(int client, int64_t seconds, int64_t microseconds, float* pan,
                                float* tilt, uint32_t* status, float* pan_speed, float* tilt_speed,
                                float* hfov, float* vfov, float* zoom);

#ifdef __cplusplus
}
#endif

#endif /* PTZLINK_H */
