#pragma once

#include <string>

namespace camsim
{

// Resolves an absolute camera path under $CAMROOT when that variable is set
// and non-empty ("/run/camsim/control" -> "$CAMROOT/run/camsim/control");
// relative paths and an unset CAMROOT leave the path as it is.
std::string camPath(const std::string& path);

// Creates the parent directories of `path` (already resolved); returns false
// with errno set when that fails.
bool makeParentDirs(const std::string& path);

// Monotonic clock (CLOCK_MONOTONIC) in microseconds: the time base of every
// position sample, trace row and feed time stamp.
long long monotonicUs();

} // namespace camsim
