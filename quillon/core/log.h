#pragma once

#include <syslog.h>

namespace quillon
{

// quillon's log: the system log with the default identity and facility (no
// openlog). When the environment variable QUILLON_LOG_STDERR is set and not
// empty, every line is also written to standard error, so tests can capture
// message texts and the main job shows them on the terminal.
//
// Levels: LOG_ERR failures, LOG_WARNING refused input and recoverable faults,
// LOG_INFO progress. Every format ends with "\n".
void quillonLog(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

} // namespace quillon
