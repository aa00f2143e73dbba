#include "tool_common.h"

#include <csignal>
#include <ctime>

namespace feedtools
{

void installSignalHandlers()
{
    struct sigaction sa {
    };
    sa.sa_handler = [](int) { stopRequested() = true; };
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool writeRaw(const std::string& dir, const char* prefix, long index, const void* data,
              std::size_t size)
{
    char name[64];
    std::snprintf(name, sizeof(name), "/%s-%06ld.bin", prefix, index);
    std::FILE* f = std::fopen((dir + name).c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

} // namespace feedtools
