#pragma once

#include <string>

namespace quillon
{

// Resolves a path the daemon opens, creates or binds. When the environment
// variable CAMROOT is set and not empty, an absolute path is placed under it
// ("/etc/quillon/a.conf" -> "$CAMROOT/etc/quillon/a.conf"); otherwise, and
// for relative paths, the path is returned unchanged. Paths that come from
// outside (FCGI_SOCKET_NAME, passed sockets) are not resolved.
std::string camPath(const std::string& path);

} // namespace quillon
