/* Where the library's camera paths live on this machine. */
#include "pavane_private.h"

char* pavane_path_resolve(const char* path)
{
    const char* root = g_getenv("CAMROOT");

    if (root == NULL || root[0] == '\0' || path == NULL || path[0] != '/')
        return g_strdup(path);
    return g_strconcat(root, path, NULL);
}
