// A preloadable library that makes file operations fail on demand, to test
// how a program copes with a disk that refuses a write.
//
//   LD_PRELOAD=libfault_shim.so
//   PTZ_FAULT_PATH=/etc/quillon/     only files whose path contains this
//   PTZ_FAULT_CONTROL=/some/file     "CALL [SUFFIX]": the call that fails,
//                                    "write", "fsync" or "rename", optionally
//                                    only on paths (for rename: the target)
//                                    ending in SUFFIX; empty: none fails
//
// The control file is read at every call on a matching path, so a test can
// switch the failing step while the program runs. write fails with ENOSPC,
// the others with EIO. Calls on other paths (sockets, logs) pass through.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int pathMatches(const char* path)
{
    const char* watched = getenv("PTZ_FAULT_PATH");
    return path != NULL && watched != NULL && *watched != '\0' && strstr(path, watched) != NULL;
}

// The path behind descriptor `fd`, empty when it has none.
static void fdPath(int fd, char* path, size_t size)
{
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, size - 1);
    path[n > 0 ? n : 0] = '\0';
}

// True when the control file names `call` and, if it gives a suffix, `path`
// ends in it.
static int failing(const char* call, const char* path)
{
    if (!pathMatches(path))
        return 0;
    const char* control = getenv("PTZ_FAULT_CONTROL");
    if (control == NULL)
        return 0;
    int saved = errno;
    char text[256] = {0};
    int fd = open(control, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ssize_t (*realRead)(int, void*, size_t) = dlsym(RTLD_NEXT, "read");
        ssize_t n = realRead(fd, text, sizeof text - 1);
        text[n > 0 ? n : 0] = '\0';
        close(fd);
    }
    errno = saved;
    text[strcspn(text, "\n")] = '\0';
    char* suffix = strchr(text, ' ');
    if (suffix != NULL)
        *suffix++ = '\0';
    if (strcmp(text, call) != 0)
        return 0;
    if (suffix == NULL)
        return 1;
    size_t length = strlen(path);
    size_t tail = strlen(suffix);
    return length >= tail && strcmp(path + length - tail, suffix) == 0;
}

ssize_t write(int fd, const void* buf, size_t count)
{
    static ssize_t (*real)(int, const void*, size_t);
    if (real == NULL)
        real = dlsym(RTLD_NEXT, "write");
    if (fd > 2) {
        char path[4096];
        fdPath(fd, path, sizeof path);
        if (failing("write", path)) {
            errno = ENOSPC;
            return -1;
        }
    }
    return real(fd, buf, count);
}

int fsync(int fd)
{
    static int (*real)(int);
    if (real == NULL)
        real = dlsym(RTLD_NEXT, "fsync");
    char path[4096];
    fdPath(fd, path, sizeof path);
    if (failing("fsync", path)) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

int rename(const char* from, const char* to)
{
    static int (*real)(const char*, const char*);
    if (real == NULL)
        real = dlsym(RTLD_NEXT, "rename");
    if (failing("rename", to)) {
        errno = EIO;
        return -1;
    }
    return real(from, to);
}
