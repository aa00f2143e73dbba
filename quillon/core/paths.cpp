#include "quillon/core/paths.h"

#include <stdlib.h>

namespace quillon
{

std::string camPath(const std::string& path)
{
    const char* root = getenv("CAMROOT");
    if (root == nullptr || root[0] == '\0' || path.empty() || path[0] != '/')
        return path;
    std::string resolved(root);
    while (!resolved.empty() && resolved.back() == '/')
        resolved.pop_back();
    return resolved + path;
}

} // namespace quillon
