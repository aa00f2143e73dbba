#include "korund_paths.h"

#include <stdlib.h>

char* korund_path_resolve(const char* path)
{
    const char* root = getenv("CAMROOT");

    if (root == NULL || root[0] == '\0' || path == NULL || path[0] != '/')
        return g_strdup(path);
    return g_strconcat(root, path, NULL);
}
