/*
 * feedwire: framing and socket helpers shared by the feed stand-ins
 * (libdetfeed, libscenefeed, libmbx) and the camera simulator's feed servers.
 *
 * Every message on a feed socket (a Unix stream socket) is one frame:
 *
 *   offset  size  field
 *   0       2     magic 0x51 0x46
 *   2       2     type   (big-endian, enum feedwire_type)
 *   4       4     length (big-endian, payload bytes that follow, at most
 *                 FEEDWIRE_MAX_PAYLOAD)
 *   8       n     payload
 *
 * A frame with a wrong magic or an oversized length makes the stream
 * unusable: the reader reports FEEDWIRE_EMALFORMED and the peer drops the
 * connection. Payload layouts of each type are listed with the types; all
 * integers are big-endian.
 */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FEEDWIRE_HEADER_SIZE 8u
#define FEEDWIRE_MAX_PAYLOAD (4u * 1024u * 1024u)

#define FEEDWIRE_OK 0
#define FEEDWIRE_EAGAIN (-1)     /* more bytes needed */
#define FEEDWIRE_EMALFORMED (-2) /* bad magic or oversized length */
#define FEEDWIRE_EIO (-3)        /* socket error, peer gone or time-out */
#define FEEDWIRE_ENOMEM (-4)

/* Sockets of the simulated camera (resolved under $CAMROOT). */
#define FEEDWIRE_DETFEED_SOCKET "/run/camsim/detfeed.sock"
#define FEEDWIRE_SCENEFEED_SOCKET "/run/camsim/scenefeed.sock"
#define FEEDWIRE_MBX_SOCKET "/run/camsim/mbx.sock"

enum feedwire_type {
    /* Either side. Payload: u32 code, UTF-8 text (not terminated). The
     * sender closes the connection after it. */
    FEEDWIRE_ERROR = 0x0001,

    /* Detection feed. */
    FEEDWIRE_DET_SUBSCRIBE = 0x0101,        /* u32 channel index, u8 receive empty hits */
    FEEDWIRE_DET_SUBSCRIBED = 0x0102,       /* empty */
    FEEDWIRE_DET_FRAME = 0x0103,            /* serialised VOD.Scene */
    FEEDWIRE_DET_INFO_REQUEST = 0x0104,     /* empty */
    FEEDWIRE_DET_INFO = 0x0105,             /* serialised VOD.DetectorInformation */
    FEEDWIRE_DET_CHANNELS_REQUEST = 0x0106, /* empty */
    FEEDWIRE_DET_CHANNELS = 0x0107,         /* u32 channels, u32 channels simultaneously */

    /* Scene feed. */
    FEEDWIRE_SCENE_SUBSCRIBE = 0x0201,  /* u32 channel index, u32 format, u32 option bits */
    FEEDWIRE_SCENE_SUBSCRIBED = 0x0202, /* empty */
    FEEDWIRE_SCENE_FRAME = 0x0203, /* u32 length word (4 + n), n bytes serialised Scene.Scene */

    /* Message broker. */
    FEEDWIRE_MBX_SUBSCRIBE = 0x0301,  /* u32 subscription id, topic, 0, source, 0 */
    FEEDWIRE_MBX_SUBSCRIBED = 0x0302, /* u32 subscription id */
    FEEDWIRE_MBX_MESSAGE = 0x0303, /* u32 subscription id, i64 seconds, u32 nanoseconds, payload */
    FEEDWIRE_MBX_UNSUBSCRIBE = 0x0304, /* u32 subscription id */
};

/* Option bits of FEEDWIRE_SCENE_SUBSCRIBE. */
#define FEEDWIRE_SCENE_VELOCITY 0x1u
#define FEEDWIRE_SCENE_BOX 0x2u
#define FEEDWIRE_SCENE_LOW_CONFIDENT 0x4u

typedef struct feedwire_header {
    uint16_t type;
    uint32_t length;
} feedwire_header;

/* Big-endian helpers. */
void feedwire_put_u16(uint8_t* p, uint16_t v);
void feedwire_put_u32(uint8_t* p, uint32_t v);
void feedwire_put_u64(uint8_t* p, uint64_t v);
uint16_t feedwire_get_u16(const uint8_t* p);
uint32_t feedwire_get_u32(const uint8_t* p);
uint64_t feedwire_get_u64(const uint8_t* p);

/* Writes the 8-byte header for a payload of `length` bytes. */
void feedwire_put_header(uint8_t* out, uint16_t type, uint32_t length);

/*
 * Parses the header at the start of `buf`. FEEDWIRE_OK when a whole frame
 * (header and payload) is present, FEEDWIRE_EAGAIN when more bytes are
 * needed, FEEDWIRE_EMALFORMED when the bytes cannot start a frame.
 */
int feedwire_parse(const uint8_t* buf, size_t len, feedwire_header* out);

/*
 * Incremental reader for a stream socket: fill() appends what the socket
 * has, next() hands out complete frames in order. The payload pointer stays
 * valid until the next fill() or next().
 */
typedef struct feedwire_reader {
    uint8_t* buf;
    size_t len;
    size_t cap;
    size_t consumed;
} feedwire_reader;

void feedwire_reader_init(feedwire_reader* r);
void feedwire_reader_clear(feedwire_reader* r);
/* Reads once from fd. >0 bytes read, 0 peer closed, FEEDWIRE_EAGAIN when
 * nothing is ready (non-blocking fd), FEEDWIRE_EIO/ENOMEM on failure. */
long feedwire_reader_fill(feedwire_reader* r, int fd);
/* Appends bytes (used by tests and fuzzers). */
int feedwire_reader_feed(feedwire_reader* r, const uint8_t* data, size_t len);
/* FEEDWIRE_OK with one frame, FEEDWIRE_EAGAIN, or FEEDWIRE_EMALFORMED. */
int feedwire_reader_next(feedwire_reader* r, feedwire_header* hdr, const uint8_t** payload);
/* Bytes buffered that do not yet form a whole frame. */
size_t feedwire_reader_pending(const feedwire_reader* r);

/* Sends one whole frame on a blocking socket (MSG_NOSIGNAL). */
int feedwire_send(int fd, uint16_t type, const void* payload, size_t len);

/* Reads one whole frame from fd within timeout_ms (negative: no limit),
 * also waking when wake_fd (if >= 0) becomes readable (then FEEDWIRE_EIO).
 * The caller frees *payload with free(). */
int feedwire_recv(int fd, int wake_fd, int timeout_ms, feedwire_header* hdr, uint8_t** payload);

/* Path of a camera location on this machine: under $CAMROOT when it is set
 * and not empty. Returns a malloc'd string (NULL when out of memory). */
char* feedwire_resolve(const char* path);

/* Connects a close-on-exec Unix stream socket to the camera location `path`.
 * Returns the fd, or -1 with errno set. */
int feedwire_connect(const char* path);

/*
 * One request and its reply on a fresh connection: sends (type, payload),
 * waits at most timeout_ms for a frame of reply_type. FEEDWIRE_OK with the
 * reply in *reply (free() it), FEEDWIRE_EIO when the camera is unreachable,
 * silent, closes or answers FEEDWIRE_ERROR, FEEDWIRE_EMALFORMED on a
 * malformed or unexpected reply.
 */
int feedwire_request(const char* path, uint16_t type, const void* payload, size_t len,
                     uint16_t reply_type, int timeout_ms, uint8_t** reply, size_t* reply_len);

/*
 * Opens a feed subscription: connects to `path`, sends (type, request) and
 * waits at most timeout_ms for a frame of reply_type, also waking when
 * wake_fd (if >= 0) becomes readable. Returns the connected fd, or -1 when
 * the camera is unreachable, silent or refuses; *refused (if not NULL) is set
 * when it answered FEEDWIRE_ERROR.
 */
int feedwire_subscribe(const char* path, uint16_t type, const void* request, size_t len,
                       uint16_t reply_type, int wake_fd, int timeout_ms, int* refused);

/*
 * Waits without a time limit for the next frame of `type` on a feed
 * connection, skipping frames of other types. FEEDWIRE_OK with *payload
 * (free() it); anything else ends the connection: the peer closed, answered
 * FEEDWIRE_ERROR (FEEDWIRE_EIO), wake_fd woke it, or the stream is malformed
 * (logged on stderr, prefixed with `tag`).
 */
int feedwire_next_frame(int fd, int wake_fd, uint16_t type, const char* tag, feedwire_header* hdr,
                        uint8_t** payload);

/* Monotonic and real-time clocks in nanoseconds. */
int64_t feedwire_monotonic_ns(void);
int64_t feedwire_realtime_ns(void);

#ifdef __cplusplus
}
#endif
