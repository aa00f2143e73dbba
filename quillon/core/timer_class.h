#pragma once

#include <signal.h>
#include <time.h>

#include <functional>

namespace quillon
{

// A one-shot timer on CLOCK_MONOTONIC backed by a POSIX per-process timer.
// The expiry is delivered on a notification thread (SIGEV_THREAD), not in a
// signal handler, so callbacks may take locks, log and allocate.
//
// Rules kept from the signal-driven design: start() replaces any earlier
// timer; the callback runs at most once per start(), after the full delay;
// destroying an armed timer runs its callback once, on the destroying thread.
// cancel() and the destructor wait for a callback that is running on the
// notification thread, so `userData` and the callback's captures outlive it
// (unless they are called from inside that callback).
class TimerClass
{
public:
    TimerClass();
    ~TimerClass();
    TimerClass(const TimerClass&) = delete;
    TimerClass& operator=(const TimerClass&) = delete;

    // Arms the timer for `seconds` seconds. Returns 0 when armed, otherwise
    // the failing call's result (-1).
    int start(int seconds, std::function<void(void*)> callback, void* userData);
    // Disarms without running the callback.
    void cancel();
    bool isArmed() const;

private:
    static void expired(union sigval value);
    void deleteTimer();

    void* userData = nullptr;
    bool armed = false;
    std::function<void(void*)> callback;
    struct sigevent event {
    };
    timer_t timerId = nullptr;
    bool haveTimer = false; // timerId is valid (a timer_t may be 0)
    int generation = 0;     // key of the current arming in the expiry registry
};

} // namespace quillon
