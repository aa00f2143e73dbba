#include "quillon/core/log.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>

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

// Writes the whole line with one write(2) so that lines of different threads
// never interleave, however long they are.
void mirrorLine(int priority, const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0)
        return;
    std::string line = "quillon[";
    line += "EACEWNID"[priority & 7];
    line += "]: ";
    size_t prefix = line.size();
    line.resize(prefix + static_cast<size_t>(length) + 1); // room for vsnprintf's NUL
    vsnprintf(line.data() + prefix, static_cast<size_t>(length) + 1, format, args);
    line.pop_back();
    for (size_t done = 0; done < line.size();) {
        ssize_t written = write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        done += static_cast<size_t>(written);
    }
}

} // namespace

void quillonLog(int priority, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    if (mirrorToStderr()) {
        va_list copy;
        va_copy(copy, args);
        mirrorLine(priority, format, copy);
        va_end(copy);
    }
    if (systemLogPresent())
        vsyslog(priority, format, args);
    va_end(args);
}

} // namespace quillon
