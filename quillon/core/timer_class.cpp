#include "quillon/core/timer_class.h"

#include <errno.h>
#include <string.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "quillon/core/log.h"

namespace quillon
{

namespace
{

/*
 * Expiry notifications carry a generation number rather than a pointer: a
 * notification that was already on its way when its timer was deleted finds
 * no entry and does nothing, so it can never touch a destroyed TimerClass.
 * One lock guards the registry and every TimerClass's armed/callback state.
 */
struct Registry {
    std::mutex lock;
    std::condition_variable idle;
    std::map<int, TimerClass*> timers;
    int nextGeneration = 1;
    std::map<const TimerClass*, std::thread::id> running;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

} // namespace

TimerClass::TimerClass()
{
    event.sigev_notify = SIGEV_THREAD;
    event.sigev_notify_function = &TimerClass::expired;
    event.sigev_notify_attributes = nullptr;
}

TimerClass::~TimerClass()
{
    auto& reg = registry();
    std::function<void(void*)> pending;
    void* data = nullptr;
    {
        std::unique_lock<std::mutex> guard(reg.lock);
        if (armed && callback) {
            pending = callback;
            data = userData;
        }
        armed = false;
        reg.timers.erase(generation);
        // Wait for our own callback if a notification thread is running it.
        reg.idle.wait(guard, [&] {
            auto it = reg.running.find(this);
            return it == reg.running.end() || it->second == std::this_thread::get_id();
        });
    }
    deleteTimer();
    if (pending)
        pending(data);
}

int TimerClass::start(int seconds, std::function<void(void*)> cb, void* data)
{
    auto& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    reg.timers.erase(generation);
    armed = false;
    deleteTimer();

    generation = reg.nextGeneration++;
    if (reg.nextGeneration <= 0)
        reg.nextGeneration = 1;
    event.sigev_value.sival_int = generation;
    if (timer_create(CLOCK_MONOTONIC, &event, &timerId) != 0) {
        quillonLog(LOG_ERR, "timer_create failed: %s\n", strerror(errno));
        return -1;
    }
    haveTimer = true;
    callback = std::move(cb);
    userData = data;
    if (!callback)
        quillonLog(LOG_WARNING, "TimerClass received nullptr callback.\n");

    struct itimerspec spec {
    };
    spec.it_value.tv_sec = seconds;
    reg.timers[generation] = this;
    int result = timer_settime(timerId, 0, &spec, nullptr);
    if (result != 0) {
        quillonLog(LOG_ERR, "timer_settime failed: %s\n", strerror(errno));
        reg.timers.erase(generation);
        return result;
    }
    armed = true;
    return 0;
}

void TimerClass::cancel()
{
    auto& reg = registry();
    std::unique_lock<std::mutex> guard(reg.lock);
    reg.timers.erase(generation);
    if (armed) {
        armed = false;
        deleteTimer();
    }
    reg.idle.wait(guard, [&] {
        auto it = reg.running.find(this);
        return it == reg.running.end() || it->second == std::this_thread::get_id();
    });
}

bool TimerClass::isArmed() const
{
    std::lock_guard<std::mutex> guard(registry().lock);
    return armed;
}

void TimerClass::deleteTimer()
{
    if (haveTimer) {
        timer_delete(timerId);
        haveTimer = false;
        timerId = nullptr;
    }
}

void TimerClass::expired(union sigval value)
{
    auto& reg = registry();
    std::function<void(void*)> cb;
    void* data = nullptr;
    TimerClass* timer = nullptr;
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        auto it = reg.timers.find(value.sival_int);
        if (it == reg.timers.end())
            return; // deleted, restarted or destroyed meanwhile
        timer = it->second;
        reg.timers.erase(it);
        if (!timer->armed)
            return;
        // Cleared before the call, so a destructor racing with this expiry
        // cannot run the callback a second time.
        timer->armed = false;
        cb = timer->callback;
        data = timer->userData;
        reg.running[timer] = std::this_thread::get_id();
    }
    if (cb)
        cb(data);
    else
        quillonLog(LOG_WARNING, "Timer callback failed, %p.\n", static_cast<void*>(timer));
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        reg.running.erase(timer);
    }
    reg.idle.notify_all();
}

} // namespace quillon
