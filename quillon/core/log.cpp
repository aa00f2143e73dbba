#include "quillon/core/log.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

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

// Whether the system log socket exists. Without a log daemon glibc tries to
// connect again for every line (three system calls, each time); the check is
// repeated at most once a second so a daemon that starts later is picked up.
bool systemLogPresent()
{
    static std::atomic<long long> nextCheck{0};
    static std::atomic<bool> present{true};
    long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    if (now >= nextCheck.load(std::memory_order_relaxed)) {
        present = access(_PATH_LOG, F_OK) == 0;
        nextCheck.store(now + 1000, std::memory_order_relaxed);
    }
    return present;
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
    if (systemLogPresent())
        vsyslog(priority, format, args);
    va_end(args);
}

} // namespace quillon
