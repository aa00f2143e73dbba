#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "quillon/core/main_loop_thread.h"
#include "support/wait.h"

using namespace quillon;
using testsupport::waitFor;

TEST(MainLoopThread, RunsTheContextOnItsThreadBetweenOnStartAndOnStop)
{
    MainLoopThread loop;
    GMainContext* context = g_main_context_new();
    std::atomic<int> step{0};
    std::atomic<bool> defaultSeen{false};
    std::atomic<std::thread::id> startThread{};
    std::atomic<std::thread::id> sourceThread{};
    ASSERT_TRUE(loop.start(
        [&] {
            startThread = std::this_thread::get_id();
            step = 1;
        },
        [&] { step = 3; }, context));
    EXPECT_FALSE(loop.start(nullptr, nullptr, context)); // already running

    struct Probe {
        GMainContext* context;
        std::atomic<bool>* defaultSeen;
        std::atomic<std::thread::id>* sourceThread;
    } probe{context, &defaultSeen, &sourceThread};
    GSource* source = g_idle_source_new();
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            auto* p = static_cast<Probe*>(data);
            *p->defaultSeen = g_main_context_get_thread_default() == p->context;
            *p->sourceThread = std::this_thread::get_id();
            return G_SOURCE_REMOVE;
        },
        &probe, nullptr);
    g_source_attach(source, context);
    g_source_unref(source);

    ASSERT_TRUE(waitFor([&] { return sourceThread.load() != std::thread::id(); }));
    EXPECT_TRUE(defaultSeen);
    EXPECT_EQ(sourceThread.load(), startThread.load());
    EXPECT_NE(sourceThread.load(), std::this_thread::get_id());
    EXPECT_TRUE(loop.isRunning());

    loop.stop();
    EXPECT_EQ(step, 3);
    EXPECT_FALSE(loop.isRunning());
    loop.stop(); // harmless
    g_main_context_unref(context);
}

TEST(MainLoopThread, StopRightAfterStartDoesNotHang)
{
    for (int i = 0; i < 50; ++i) {
        MainLoopThread loop;
        GMainContext* context = g_main_context_new();
        std::atomic<bool> stopped{false};
        ASSERT_TRUE(loop.start(
            nullptr, [&] { stopped = true; }, context));
        g_main_context_unref(context);
        loop.stop();
        EXPECT_TRUE(stopped);
    }
}

// After stop() the same object starts a new thread whose loop runs the
// context's sources again.
TEST(MainLoopThread, CanBeStartedAgainAfterStop)
{
    MainLoopThread loop;
    GMainContext* context = g_main_context_new();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        std::atomic<int> starts{0};
        std::atomic<bool> ran{false};
        ASSERT_TRUE(loop.start([&] { ++starts; }, nullptr, context));
        GSource* source = g_idle_source_new();
        g_source_set_callback(
            source,
            [](gpointer data) -> gboolean {
                *static_cast<std::atomic<bool>*>(data) = true;
                return G_SOURCE_REMOVE;
            },
            &ran, nullptr);
        g_source_attach(source, context);
        g_source_unref(source);
        EXPECT_TRUE(waitFor([&] { return ran.load(); })) << "the loop does not run";
        EXPECT_EQ(starts, 1);
        EXPECT_TRUE(loop.isRunning());
        loop.stop();
        EXPECT_FALSE(loop.isRunning());
    }
    g_main_context_unref(context);
}
