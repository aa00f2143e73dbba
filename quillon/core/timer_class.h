#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace quillon
{

// A one-shot timer on the monotonic clock.
//
// Expiries are delivered on one process-wide timer thread, in deadline order,
// rather than in a signal handler, so callbacks may take locks, log and
// allocate. start() replaces any earlier arming; the callback runs at most
// once per start(), after the full delay; destroying an armed timer runs its
// callback once, on the destroying thread. cancel() and the destructor wait
// for the callback when it is running on the timer thread, so `userData` and
// the callback's captures outlive it (a callback may itself restart, cancel
// or destroy its timer).
class TimerClass
{
public:
    TimerClass();
    ~TimerClass();
    TimerClass(const TimerClass&) = delete;
    TimerClass& operator=(const TimerClass&) = delete;

    // Arms the timer for `seconds` seconds. Returns 0. An empty callback is
    // logged; the timer is still set and its expiry logged.
    int start(int seconds, std::function<void(void*)> callback, void* userData);
    // The same with a delay in milliseconds.
    int start(std::chrono::milliseconds delay, std::function<void(void*)> callback, void* userData);
    // Disarms without running the callback.
    void cancel();
    bool isArmed() const;

private:
    friend class TimerThread;

    void* userData = nullptr;
    bool armed = false;
    std::function<void(void*)> callback;
    std::uint64_t generation = 0; // identifies the current arming; 64 bits, so it never wraps
};

} // namespace quillon
