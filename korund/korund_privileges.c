#include "korund_privileges.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include "visca_log.h"

int korund_drop_privileges(const char* user)
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size == -1)
        size = 1024;
    g_autofree char* buf = g_malloc((gsize)size);
    struct passwd pwd;
    struct passwd* found = NULL;

    if (getpwnam_r(user, &pwd, buf, (size_t)size, &found) != 0 || found == NULL) {
        visca_log_warning("%sCouldn't get UID/GID of user \"%s\": %m", user);
        return -1;
    }
    if (setgid(pwd.pw_gid) != 0) {
        visca_log_warning("%sFailed setting gid to %d: %m", (int)pwd.pw_gid);
        return -1;
    }
    if (initgroups(user, pwd.pw_gid) != 0) {
        visca_log_warning("%sUnable to run initgroups() with username: %s, gid: %d: %m", user,
                          (int)pwd.pw_gid);
        return -1;
    }
    if (setuid(pwd.pw_uid) != 0) {
        visca_log_warning("%sFailed setting uid to %d: %m", (int)pwd.pw_uid);
        return -1;
    }
    return 0;
}
