#include "quillon/core/log.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

namespace quillon
{

namespace
{

bool mirrorToStderr()
{
    static const bool mirror = [] {
        const char* value = getenv("QUILLON_LOG_STDERR");
        return value != nullptr && value[0] != '\0';
    }();
    return mirror;
}

} // namespace

void quillonLog(int priority, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    if (mirrorToStderr()) {
        va_list copy;
        va_copy(copy, args);
        // One fprintf per line keeps lines from different threads whole.
        char line[1024];
        vsnprintf(line, sizeof line, format, copy);
        va_end(copy);
        fprintf(stderr, "quillon[%c]: %s", "EACEWNID"[priority & 7], line);
    }
    vsyslog(priority, format, args);
    va_end(args);
}

} // namespace quillon
