/* Wire format of the PTZ control socket between libptzlink and the driver
 * (camsim). The socket is a connected AF_UNIX SOCK_SEQPACKET pair: every
 * request and every reply is exactly one packet of at most
 * PTZLINK_MAX_PACKET bytes, in host byte order (both ends run on the camera).
 *
 *   packet  = header, payload (header.length bytes)
 *   request: header.type = PTZLINK_MSG_*, header.status = 0
 *   reply:   header.type = request type | PTZLINK_MSG_REPLY, same seq,
 *            status 0 (payload as below) or a negative errno (no payload)
 *
 *   MOVE        request ptzlink_move_req         reply empty
 *   GET_SPACES  request empty                    reply ptzlink_spaces_reply_head,
 *                                                count x ptzlink_space, names text
 *   SET_SPACES  request ptzlink_set_spaces_req   reply empty
 *   DATACACHE   request ptzlink_datacache_req    reply ptzlink_datacache_reply
 *
 * Replies carry the sequence number of their request; a client discards
 * replies to earlier requests (late after a time-out) and refuses anything
 * malformed. The driver answers each request in order.
 */
#ifndef PTZLINK_PROTOCOL_H
#define PTZLINK_PROTOCOL_H

#include <stdint.h>

#define PTZLINK_MAGIC 0x4c5a5450u /* "PTZL" */
#define PTZLINK_VERSION 1
#define PTZLINK_MAX_PACKET 4096

enum {
    PTZLINK_MSG_MOVE = 1,
    PTZLINK_MSG_GET_SPACES = 2,
    PTZLINK_MSG_SET_SPACES = 3,
    PTZLINK_MSG_DATACACHE = 4,
    PTZLINK_MSG_REPLY = 0x8000
};

typedef struct ptzlink_header {
    uint32_t magic;
    uint16_t version;
    uint16_t type;
    uint32_t seq;
    int32_t status;
    uint32_t length; /* payload bytes after the header */
} ptzlink_header;

typedef struct ptzlink_move_req {
    double pan;
    double tilt;
    double zoom;
} ptzlink_move_req;

typedef struct ptzlink_set_spaces_req {
    int32_t pantilt;
    int32_t zoom;
} ptzlink_set_spaces_req;

typedef struct ptzlink_datacache_req {
    int64_t seconds;
    int64_t microseconds;
} ptzlink_datacache_req;

typedef struct ptzlink_datacache_reply {
    uint32_t status;
    float pan_speed;
    float tilt_speed;
    float pan;
    float tilt;
    float hfov;
    float vfov;
    float zoom;
} ptzlink_datacache_reply;

typedef struct ptzlink_spaces_reply_head {
    int32_t count;
    int32_t selected;
} ptzlink_spaces_reply_head;

#endif /* PTZLINK_PROTOCOL_H */
