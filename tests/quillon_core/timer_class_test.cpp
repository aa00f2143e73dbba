#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "quillon/core/timer_class.h"
#include "support/wait.h"

using namespace quillon;
using namespace std::chrono;
using testsupport::waitFor;

TEST(TimerClass, OneShotFiresOnceAfterTheFullDelayWithItsUserData)
{
    TimerClass timer;
    std::atomic<int> calls{0};
    std::atomic<void*> seen{nullptr};
    std::atomic<std::thread::id> thread{};
    int token = 0;
    auto started = steady_clock::now();
    steady_clock::time_point firedAt;
    ASSERT_EQ(timer.start(
                  1,
                  [&](void* data) {
                      firedAt = steady_clock::now();
                      seen = data;
                      thread = std::this_thread::get_id();
                      ++calls;
                  },
                  &token),
              0);
    EXPECT_TRUE(timer.isArmed());
    ASSERT_TRUE(waitFor([&] { return calls == 1; }, seconds(5)));
    EXPECT_GE(firedAt - started, milliseconds(990));
    EXPECT_EQ(seen.load(), &token);
    EXPECT_NE(thread.load(), std::this_thread::get_id()); // delivered on a thread
    EXPECT_FALSE(timer.isArmed());
    std::this_thread::sleep_for(milliseconds(1200));
    EXPECT_EQ(calls, 1); // one-shot
}

TEST(TimerClass, CancelPreventsTheCallback)
{
    TimerClass timer;
    std::atomic<int> calls{0};
    ASSERT_EQ(timer.start(
                  1, [&](void*) { ++calls; }, nullptr),
              0);
    timer.cancel();
    EXPECT_FALSE(timer.isArmed());
    std::this_thread::sleep_for(milliseconds(1300));
    EXPECT_EQ(calls, 0);
    timer.cancel(); // cancelling a disarmed timer is harmless
}

TEST(TimerClass, RestartReplacesTheEarlierArming)
{
    TimerClass timer;
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    ASSERT_EQ(timer.start(
                  1, [&](void*) { ++first; }, nullptr),
              0);
    std::this_thread::sleep_for(milliseconds(500));
    auto restarted = steady_clock::now();
    ASSERT_EQ(timer.start(
                  1, [&](void*) { ++second; }, nullptr),
              0);
    ASSERT_TRUE(waitFor([&] { return second == 1; }, seconds(5)));
    EXPECT_GE(steady_clock::now() - restarted, milliseconds(990));
    EXPECT_EQ(first, 0);
}

TEST(TimerClass, DestroyingAnArmedTimerRunsItsCallbackOnce)
{
    std::atomic<int> calls{0};
    std::thread::id ranOn;
    {
        TimerClass timer;
        ASSERT_EQ(timer.start(
                      5,
                      [&](void*) {
                          ranOn = std::this_thread::get_id();
                          ++calls;
                      },
                      nullptr),
                  0);
    }
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    // Expired or cancelled timers run nothing on destruction.
    {
        TimerClass timer;
        ASSERT_EQ(timer.start(
                      5, [&](void*) { ++calls; }, nullptr),
                  0);
        timer.cancel();
    }
    EXPECT_EQ(calls, 1);
}

TEST(TimerClass, DestructionWaitsForARunningCallback)
{
    std::atomic<bool> entered{false};
    std::atomic<bool> finished{false};
    auto timer = std::make_unique<TimerClass>();
    ASSERT_EQ(timer->start(
                  1,
                  [&](void*) {
                      entered = true;
                      std::this_thread::sleep_for(milliseconds(300));
                      finished = true;
                  },
                  nullptr),
              0);
    ASSERT_TRUE(waitFor([&] { return entered.load(); }, seconds(5)));
    timer.reset();
    EXPECT_TRUE(finished); // the callback's captures outlived it
}

TEST(TimerClass, CallbackMayRearmItsOwnTimer)
{
    TimerClass timer;
    std::atomic<int> calls{0};
    std::function<void(void*)> again = [&](void*) {
        if (++calls < 2)
            timer.start(1, again, nullptr);
    };
    ASSERT_EQ(timer.start(1, again, nullptr), 0);
    ASSERT_TRUE(waitFor([&] { return calls == 2; }, seconds(6)));
}
