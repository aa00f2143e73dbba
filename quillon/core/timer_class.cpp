#include "quillon/core/timer_class.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "quillon/core/log.h"

namespace quillon
{

/*
 * The process-wide timer thread. Armings are keyed by generation number, not
 * by pointer: an arming that was cancelled, replaced or destroyed is simply
 * absent when its deadline comes, so a late expiry never reaches a destroyed
 * TimerClass. One lock guards the schedule and every TimerClass's state.
 */
class TimerThread
{
public:
    using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC

    static TimerThread& instance()
    {
        static TimerThread timers;
        return timers;
    }

    ~TimerThread()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            quitting = true;
        }
        wakeup.notify_all();
        if (thread.joinable())
            thread.join();
    }

    void arm(TimerClass* timer, std::chrono::milliseconds delay)
    {
        auto deadline = Clock::now() + delay;
        std::lock_guard<std::mutex> guard(lock);
        disarmLocked(timer);
        timer->generation = nextGeneration++;
        timer->armed = true;
        byGeneration[timer->generation] = timer;
        schedule.emplace(deadline, timer->generation);
        if (!thread.joinable())
            thread = std::thread([this] { run(); });
        wakeup.notify_all();
    }

    // Disarms; returns the callback to run when `fire` and the timer was armed.
    std::function<void()> disarm(TimerClass* timer, bool fire)
    {
        std::unique_lock<std::mutex> guard(lock);
        std::function<void()> pending;
        if (fire && timer->armed && timer->callback)
            pending = [cb = timer->callback, data = timer->userData] { cb(data); };
        disarmLocked(timer);
        // Wait for this timer's callback when the timer thread is running it.
        idle.wait(guard, [&] {
            return running != timer || std::this_thread::get_id() == thread.get_id();
        });
        return pending;
    }

    bool armed(const TimerClass* timer)
    {
        std::lock_guard<std::mutex> guard(lock);
        return timer->armed;
    }

private:
    void disarmLocked(TimerClass* timer)
    {
        byGeneration.erase(timer->generation);
        timer->armed = false;
    }

    void run()
    {
        std::unique_lock<std::mutex> guard(lock);
        while (!quitting) {
            if (schedule.empty()) {
                wakeup.wait(guard);
                continue;
            }
            auto next = schedule.begin();
            if (Clock::now() < next->first) {
                wakeup.wait_until(guard, next->first);
                continue;
            }
            std::uint64_t generation = next->second;
            schedule.erase(next);
            auto found = byGeneration.find(generation);
            if (found == byGeneration.end())
                continue; // cancelled, replaced or destroyed
            TimerClass* timer = found->second;
            byGeneration.erase(found);
            // Cleared before the call, so a destructor racing with this expiry
            // cannot run the callback a second time.
            timer->armed = false;
            auto callback = timer->callback;
            void* data = timer->userData;
            running = timer;
            guard.unlock();
            if (callback)
                callback(data);
            else
                quillonLog(LOG_WARNING, "Timer callback failed, %p.\n", static_cast<void*>(timer));
            guard.lock();
            running = nullptr;
            idle.notify_all();
        }
    }

    std::mutex lock;
    std::condition_variable wakeup; // schedule changed or quitting
    std::condition_variable idle;   // a callback finished
    std::multimap<Clock::time_point, std::uint64_t> schedule;
    std::map<std::uint64_t, TimerClass*> byGeneration;
    std::uint64_t nextGeneration = 1;
    const TimerClass* running = nullptr; // timer whose callback runs now
    bool quitting = false;
    std::thread thread;
};

TimerClass::TimerClass()
{
    // Created first, so the timer thread outlives every TimerClass, static
    // ones included.
    TimerThread::instance();
}

TimerClass::~TimerClass()
{
    if (auto pending = TimerThread::instance().disarm(this, true))
        pending();
}

int TimerClass::start(int seconds, std::function<void(void*)> cb, void* data)
{
    return start(std::chrono::milliseconds(std::chrono::seconds(seconds)), std::move(cb), data);
}

int TimerClass::start(std::chrono::milliseconds delay, std::function<void(void*)> cb, void* data)
{
    auto& timers = TimerThread::instance();
    timers.disarm(this, false);
    if (!cb)
        quillonLog(LOG_WARNING, "TimerClass received nullptr callback.\n");
    callback = std::move(cb);
    userData = data;
    timers.arm(this, delay);
    return 0;
}

void TimerClass::cancel()
{
    TimerThread::instance().disarm(this, false);
}

bool TimerClass::isArmed() const
{
    return TimerThread::instance().armed(this);
}

} // namespace quillon
