#pragma once

#include <glib.h>

#include <functional>
#include <mutex>
#include <thread>

namespace quillon
{

// A thread that runs a GLib main loop on a given context. Components that
// need their own main context (D-Bus proxies and signal subscriptions that
// must not be blocked by the rest of the daemon) run it here.
class MainLoopThread
{
public:
    MainLoopThread() = default;
    ~MainLoopThread();
    MainLoopThread(const MainLoopThread&) = delete;
    MainLoopThread& operator=(const MainLoopThread&) = delete;

    // Starts the thread: it runs onStart(), makes `context` its thread-default
    // context (when not null), runs a main loop on it until stop(), releases
    // the loop and runs onStop(). Returns false when the thread already exists.
    bool start(std::function<void()> onStart, std::function<void()> onStop, GMainContext* context);
    // Quits the loop and joins the thread. A stop() that comes before the loop
    // exists still ends the thread: the loop is not entered once stopping.
    void stop();
    bool isRunning() const;

private:
    struct Running {
        MainLoopThread* self;
        GMainLoop* loop;
    };
    static gboolean onRunning(gpointer data);

    GMainLoop* loop = nullptr;
    std::thread thread;
    mutable std::mutex lock; // guards loop and stopping
    bool stopping = false;
};

} // namespace quillon
