#include "quillon/core/main_loop_thread.h"

namespace quillon
{

MainLoopThread::~MainLoopThread()
{
    stop();
}

bool MainLoopThread::start(std::function<void()> onStart, std::function<void()> onStop,
                           GMainContext* context)
{
    std::lock_guard<std::mutex> guard(lock);
    if (thread.joinable())
        return false;
    stopping = false;
    if (context)
        g_main_context_ref(context);
    thread = std::thread([this, onStart = std::move(onStart), onStop = std::move(onStop), context] {
        if (onStart)
            onStart();
        if (context)
            g_main_context_push_thread_default(context);
        GMainLoop* created = g_main_loop_new(context, FALSE);
        // The loop is published to stop() from inside the running loop: a
        // quit before g_main_loop_run() would otherwise be lost.
        Running running{this, created};
        GSource* source = g_idle_source_new();
        g_source_set_priority(source, G_PRIORITY_HIGH);
        g_source_set_callback(source, &MainLoopThread::onRunning, &running, nullptr);
        g_source_attach(source, context);
        g_main_loop_run(created);
        g_source_destroy(source);
        g_source_unref(source);
        {
            std::lock_guard<std::mutex> inner(lock);
            loop = nullptr;
        }
        g_main_loop_unref(created);
        if (context) {
            g_main_context_pop_thread_default(context);
            g_main_context_unref(context);
        }
        if (onStop)
            onStop();
    });
    return true;
}

void MainLoopThread::stop()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
        if (loop)
            g_main_loop_quit(loop);
    }
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id())
        thread.join();
}

gboolean MainLoopThread::onRunning(gpointer data)
{
    auto* running = static_cast<Running*>(data);
    std::lock_guard<std::mutex> guard(running->self->lock);
    running->self->loop = running->loop;
    if (running->self->stopping)
        g_main_loop_quit(running->loop);
    return G_SOURCE_REMOVE;
}

bool MainLoopThread::isRunning() const
{
    std::lock_guard<std::mutex> guard(lock);
    return thread.joinable();
}

} // namespace quillon
