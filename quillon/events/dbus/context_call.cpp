#include "quillon/events/dbus/context_call.h"

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

#include "quillon/core/main_loop_thread.h"

namespace quillon
{

namespace
{

struct Job {
    const std::function<void()>* fn;
    GMainContext* context;
    std::mutex lock;
    std::condition_variable doneChanged;
    bool done = false;
};

void runPushed(GMainContext* context, const std::function<void()>& fn)
{
    g_main_context_push_thread_default(context);
    fn();
    g_main_context_pop_thread_default(context);
}

gboolean runJob(gpointer data)
{
    auto* job = static_cast<Job*>(data);
    runPushed(job->context, *job->fn);
    std::lock_guard<std::mutex> guard(job->lock);
    job->done = true;
    job->doneChanged.notify_all();
    return G_SOURCE_REMOVE;
}

} // namespace

void runOnContext(GMainContext* context, const std::function<void()>& fn)
{
    // Free, or already ours (acquire is recursive for the owning thread).
    if (g_main_context_acquire(context)) {
        runPushed(context, fn);
        g_main_context_release(context);
        return;
    }
    Job job{&fn, context, {}, {}, false};
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_HIGH);
    g_source_set_callback(source, runJob, &job, nullptr);
    g_source_attach(source, context);
    std::unique_lock<std::mutex> guard(job.lock);
    while (!job.done) {
        if (job.doneChanged.wait_for(guard, std::chrono::milliseconds(10),
                                     [&] { return job.done; }))
            break;
        guard.unlock();
        // The iterating thread may have left its loop for good: once the
        // context can be acquired, no dispatch of it is under way.
        if (g_main_context_acquire(context)) {
            bool ran;
            {
                std::lock_guard<std::mutex> inner(job.lock);
                ran = job.done;
            }
            if (!ran) {
                g_source_destroy(source);
                runPushed(context, fn);
            }
            g_main_context_release(context);
            guard.lock();
            job.done = true;
            break;
        }
        guard.lock();
    }
    guard.unlock();
    g_source_destroy(source);
    g_source_unref(source);
}

void drainContext(GMainContext* context)
{
    if (!g_main_context_acquire(context))
        return;
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_release(context);
}

GMainContext* dbusThreadContext()
{
    struct DBusThread {
        DBusThread() : context(g_main_context_new())
        {
            thread.start(nullptr, nullptr, context);
            // Return once the loop owns the context: a caller that acquired
            // it before would keep the thread from pushing it.
            std::promise<void> running;
            GSource* source = g_idle_source_new();
            g_source_set_callback(
                source,
                [](gpointer data) -> gboolean {
                    static_cast<std::promise<void>*>(data)->set_value();
                    return G_SOURCE_REMOVE;
                },
                &running, nullptr);
            g_source_attach(source, context);
            running.get_future().wait();
            g_source_unref(source);
        }
        ~DBusThread()
        {
            thread.stop();
            drainContext(context);
            g_main_context_unref(context);
        }
        GMainContext* context;
        MainLoopThread thread;
    };
    static DBusThread instance;
    return instance.context;
}

} // namespace quillon
