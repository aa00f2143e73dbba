#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

// Small helpers shared by the feed subscriber tools: options, output lines
// that reach a pipe at once, and the wait for an end condition.
namespace feedtools
{

struct CommonOptions {
    int channel = -1; // tool's default when not given
    long count = -1;  // stop after this many messages (-1: no limit)
    double seconds = -1.0;
    std::string raw; // directory for raw message files
};

// Parses the common options; returns the index of an unknown argument, or
// 0 when everything was consumed. `extra` handles tool-specific options
// (returns the number of arguments used, 0 when it does not know it).
template <typename Extra> int parseOptions(int argc, char** argv, CommonOptions& o, Extra extra)
{
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--channel" && hasValue)
            o.channel = std::atoi(argv[++i]);
        else if (a == "--count" && hasValue)
            o.count = std::atol(argv[++i]);
        else if (a == "--seconds" && hasValue)
            o.seconds = std::atof(argv[++i]);
        else if (a == "--raw" && hasValue)
            o.raw = argv[++i];
        else if (int used = extra(i, argc, argv); used > 0)
            i += used - 1;
        else
            return i;
    }
    return 0;
}

// Lines written from library threads and the main thread alike.
inline std::mutex& outputLock()
{
    static std::mutex m;
    return m;
}

inline void emit(const std::string& text)
{
    std::lock_guard<std::mutex> lock(outputLock());
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

inline std::atomic<bool>& stopRequested()
{
    static std::atomic<bool> stop{false};
    return stop;
}

void installSignalHandlers();

// Waits until stopRequested(), `received` reaches the count, or the time is up.
inline void waitUntilDone(const CommonOptions& o, const std::atomic<long>& received)
{
    auto start = std::chrono::steady_clock::now();
    while (!stopRequested()) {
        if (o.count >= 0 && received.load() >= o.count)
            break;
        if (o.seconds >= 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >=
                o.seconds)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::int64_t monotonicNs();

// Writes `data` to DIR/PREFIX-NNNNNN.bin; false on failure.
bool writeRaw(const std::string& dir, const char* prefix, long index, const void* data,
              std::size_t size);

} // namespace feedtools
