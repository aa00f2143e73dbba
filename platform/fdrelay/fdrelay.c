#define _GNU_SOURCE
#include "fdrelay.h"

#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

/* ADDRESSES */

static int fill_address(struct sockaddr_un* addr, const char* path)
{
    if (path == NULL || path[0] == '\0') {
        errno = EINVAL;
        return -1;
    }
    size_t len = strlen(path);
    memset(addr, 0, sizeof(*addr));
    addr->sun_family = AF_UNIX;
    if (len >= sizeof(addr->sun_path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(addr->sun_path, path, len + 1);
    return 0;
}

/* Creates the parent directories of `path` that are missing (mode 0755). */
static int make_parent_dirs(const char* path)
{
    char* copy = strdup(path);
    if (copy == NULL)
        return -1;
    int result = 0;
    for (char* p = copy + 1; *p != '\0'; ++p) {
        if (*p != '/')
            continue;
        *p = '\0';
        if (mkdir(copy, 0755) != 0 && errno != EEXIST) {
            result = -1;
            break;
        }
        *p = '/';
    }
    int saved = errno;
    free(copy);
    errno = saved;
    return result;
}

static int lookup_ids(const char* user, const char* group, uid_t* uid, gid_t* gid)
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    long gsize = sysconf(_SC_GETGR_R_SIZE_MAX);
    if (size < 1024)
        size = 1024;
    if (gsize > size)
        size = gsize;
    size *= 4;
    char* buf = malloc((size_t)size);
    if (buf == NULL)
        return -1;

    int err = 0;
    *uid = (uid_t)-1;
    *gid = (gid_t)-1;
    if (user != NULL) {
        struct passwd pw, *found = NULL;
        err = getpwnam_r(user, &pw, buf, (size_t)size, &found);
        if (err == 0 && found == NULL)
            err = ENOENT;
        if (err == 0)
            *uid = pw.pw_uid;
    }
    if (err == 0 && group != NULL) {
        struct group gr, *found = NULL;
        err = getgrnam_r(group, &gr, buf, (size_t)size, &found);
        if (err == 0 && found == NULL)
            err = ENOENT;
        if (err == 0)
            *gid = gr.gr_gid;
    }
    free(buf);
    if (err != 0) {
        errno = err;
        return -1;
    }
    return 0;
}

/* SERVER SIDE */

int fdrelay_server_socket_with_user_group(const char* path, mode_t mode, const char* user,
                                          const char* group)
{
    struct sockaddr_un addr;
    uid_t uid;
    gid_t gid;
    if (fill_address(&addr, path) != 0 || lookup_ids(user, group, &uid, &gid) != 0)
        return -1;
    if (make_parent_dirs(path) != 0)
        return -1;

    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0)
        return -1;
    if (bind(sock, (struct sockaddr*)&addr, sizeof(addr)) != 0) {
        int saved = errno;
        close(sock);
        errno = saved;
        return -1;
    }
    /* The socket file exists from here on: undo it on any later failure. */
    if (chmod(path, mode) != 0 ||
        ((uid != (uid_t)-1 || gid != (gid_t)-1) && chown(path, uid, gid) != 0)) {
        int saved = errno;
        unlink(path);
        close(sock);
        errno = saved;
        return -1;
    }
    return sock;
}

static void close_passed(struct msghdr* msg)
{
    for (struct cmsghdr* c = CMSG_FIRSTHDR(msg); c != NULL; c = CMSG_NXTHDR(msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        size_t n = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < n; ++i) {
            int passed;
            memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
            close(passed);
        }
    }
}

size_t fdrelay_recv(int sock, void* buf, size_t size, int* fd)
{
    /* Room for a few descriptors, so that a sender passing too many is
     * detected and everything it sent is closed. */
    union {
        char data[CMSG_SPACE(8 * sizeof(int))];
        struct cmsghdr align;
    } control;
    char dummy;
    struct iovec iov = {.iov_base = size > 0 ? buf : &dummy, .iov_len = size > 0 ? size : 1};
    struct msghdr msg = {0};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control.data;
    msg.msg_controllen = sizeof(control.data);

    if (fd != NULL)
        *fd = -1;
    ssize_t got;
    do {
        got = recvmsg(sock, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return 0;

    int passed = -1;
    int count = 0;
    for (struct cmsghdr* c = CMSG_FIRSTHDR(&msg); c != NULL; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
            size_t n = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            count += (int)n;
            if (n > 0)
                memcpy(&passed, CMSG_DATA(c), sizeof(int));
        }
    }
    if (got == 0 || size == 0 || count != 1 || fd == NULL || (msg.msg_flags & MSG_CTRUNC)) {
        close_passed(&msg);
        errno = EBADMSG;
        return 0;
    }
    *fd = passed;
    return (size_t)got;
}

/* CLIENT SIDE */

int fdrelay_client_socket(unsigned timeout_ms)
{
    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0)
        return -1;
    if (timeout_ms > 0) {
        struct timeval tv = {.tv_sec = timeout_ms / 1000, .tv_usec = (timeout_ms % 1000) * 1000};
        if (setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv)) != 0) {
            int saved = errno;
            close(sock);
            errno = saved;
            return -1;
        }
    }
    return sock;
}

int fdrelay_send(int sock, const char* path, const void* buf, size_t len, int fd)
{
    struct sockaddr_un addr;
    if (fill_address(&addr, path) != 0)
        return -1;
    if (buf == NULL || len == 0 || fd < 0) {
        errno = EINVAL;
        return -1;
    }
    union {
        char data[CMSG_SPACE(sizeof(int))];
        struct cmsghdr align;
    } control;
    memset(&control, 0, sizeof(control));
    struct iovec iov = {.iov_base = (void*)buf, .iov_len = len};
    struct msghdr msg = {0};
    msg.msg_name = &addr;
    msg.msg_namelen = sizeof(addr);
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control.data;
    msg.msg_controllen = sizeof(control.data);
    struct cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    memcpy(CMSG_DATA(c), &fd, sizeof(int));

    ssize_t sent;
    do {
        sent = sendmsg(sock, &msg, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        if (errno == EWOULDBLOCK)
            errno = EAGAIN;
        return -1;
    }
    return 0;
}
