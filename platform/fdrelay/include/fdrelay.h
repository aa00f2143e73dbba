#pragma once

/*
 * libfdrelay: hands a client connection's file descriptor, together with a
 * short request text, from a web-server relay to a service over a Unix
 * datagram socket.
 *
 * Wire format: one datagram per request. Its payload is the request text;
 * it carries exactly one descriptor as SCM_RIGHTS ancillary data. Paths are
 * used exactly as given (callers resolve their own locations).
 */

#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Creates a Unix datagram socket bound to `path` (parent directory created
 * when missing), sets the socket file's mode to `mode` and its owner and
 * group to `user` and `group` (either may be NULL to leave it unchanged).
 * Returns the socket descriptor (close-on-exec), or -1 with errno set; the
 * path is left unbound on failure. An existing file at `path` is an error
 * (EADDRINUSE): remove a stale socket first.
 */
int fdrelay_server_socket_with_user_group(const char* path, mode_t mode, const char* user,
                                          const char* group);

/*
 * Receives one datagram from `sock` without blocking: at most `size` bytes
 * of it into `buf` (a longer message is cut) and the one descriptor it
 * carries into `*fd` (close-on-exec). Returns the number of bytes stored, or
 * 0 on failure with `*fd` = -1 and errno set: EAGAIN when nothing is queued,
 * EBADMSG when the message was empty or did not carry exactly one
 * descriptor (it is consumed and any descriptors in it are closed), or the
 * error of recvmsg.
 */
size_t fdrelay_recv(int sock, void* buf, size_t size, int* fd);

/*
 * Client side. Creates an unbound datagram socket for sending requests, with
 * a send time-out of `timeout_ms` milliseconds (0: block). Returns the socket
 * or -1 with errno set.
 */
int fdrelay_client_socket(unsigned timeout_ms);

/*
 * Sends `len` bytes of `buf` (at least one) with descriptor `fd` to the
 * server socket at `path` over `sock` (from fdrelay_client_socket). The
 * sender keeps its own copy of `fd`. Returns 0, or -1 with errno set
 * (ENOENT or ECONNREFUSED when no server listens, EMSGSIZE when too long,
 * EAGAIN when the server's queue stayed full for the whole time-out).
 */
int fdrelay_send(int sock, const char* path, const void* buf, size_t len, int fd);

#ifdef __cplusplus
}
#endif
