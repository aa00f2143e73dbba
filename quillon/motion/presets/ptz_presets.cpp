#include "quillon/motion/presets/ptz_presets.h"

#include <glib.h>

#include <mutex>

#include "quillon/core/log.h"
#include "quillon/core/main_loop_thread.h"

namespace quillon::PTZ
{

namespace
{

struct Component {
    std::mutex lock; // guards start/stop against each other
    MainLoopThread thread;
};

Component& component()
{
    static Component instance;
    return instance;
}

} // namespace

bool start()
{
    auto& c = component();
    std::lock_guard<std::mutex> guard(c.lock);
    if (c.thread.isRunning()) {
        quillonLog(LOG_WARNING, "PTZ is already initialized\n");
        return false;
    }
    GMainContext* context = g_main_context_new();
    bool started = c.thread.start(nullptr, nullptr, context);
    g_main_context_unref(context); // the thread holds its own reference
    return started;
}

void stop()
{
    auto& c = component();
    std::lock_guard<std::mutex> guard(c.lock);
    c.thread.stop();
}

bool isStarted()
{
    auto& c = component();
    std::lock_guard<std::mutex> guard(c.lock);
    return c.thread.isRunning();
}

} // namespace quillon::PTZ
