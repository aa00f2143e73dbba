#include "quillon/motion/presets/ptz_presets.h"

#include <gio/gio.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>
#include <regex>

#include "quillon/core/log.h"
#include "quillon/core/main_loop_thread.h"
#include "quillon/events/dbus/context_call.h"
#include "quillon/events/dbus/dbus_proxy.h"

namespace quillon::PTZ
{

namespace
{

constexpr const char* kService = "com.zeto.PTZ2";

struct Component {
    std::mutex lock; // start/stop against each other
    MainLoopThread thread;
    GMainContext* context = nullptr;
    GSource* setUp = nullptr;

    // PTZ thread (or stop() once the thread has ended).
    GDBusConnection* bus = nullptr;
    guint watch = 0;
    std::unique_ptr<DBusProxy> manager;

    std::mutex listLock; // guards the two lists
    std::vector<std::shared_ptr<PTZ_PresetHandler>> handlers;
    std::vector<std::shared_ptr<PTZ_Socket>> sockets;
    std::atomic<int> discoveries{0};
};

Component& component()
{
    static Component instance;
    return instance;
}

// One channel object of the reply: its handler, new or kept.
void discoverChannel(Component& c, int channel, GVariant* entry)
{
    std::shared_ptr<PTZ_PresetHandler> handler;
    {
        std::lock_guard<std::mutex> guard(c.listLock);
        for (auto& h : c.handlers)
            if (h->channel() == channel)
                handler = h;
    }
    bool known = handler != nullptr;
    if (!known)
        handler = std::make_shared<PTZ_PresetHandler>(channel);
    handler->readProperties(entry);
    handler->subscribe();
    if (!known) {
        std::lock_guard<std::mutex> guard(c.listLock);
        c.handlers.push_back(handler);
    }
    if (channel == 1)
        handler->fetchPresets();
    else
        quillonLog(LOG_INFO, "Ignore camera %d, no PTZ\n", channel);
    if (!known) {
        auto socket = std::make_shared<PTZ_Socket>(channel);
        std::lock_guard<std::mutex> guard(c.listLock);
        c.sockets.push_back(std::move(socket));
    }
}

// PTZ thread: the service's channels from its object manager.
void discover(Component& c)
{
    if (c.manager == nullptr)
        c.manager = std::make_unique<DBusProxy>(kService, "/com/zeto/PTZ2",
                                                "org.freedesktop.DBus.ObjectManager");
    GVariant* reply = c.manager->callSync("GetManagedObjects", nullptr);
    if (reply == nullptr)
        return;
    GVariant* objects = nullptr;
    if (!g_variant_is_of_type(reply, G_VARIANT_TYPE_TUPLE) || g_variant_n_children(reply) < 1) {
        quillonLog(LOG_WARNING, "Warning: channel container: %s of unknown type\n",
                   variantText(reply).c_str());
    } else {
        objects = g_variant_get_child_value(reply, 0);
        if (!g_variant_is_of_type(objects, G_VARIANT_TYPE("a{?*}"))) {
            quillonLog(LOG_WARNING, "Warning: channel dictionary %s of unknown type\n",
                       variantText(objects).c_str());
            g_variant_unref(objects);
            objects = nullptr;
        }
    }
    if (objects != nullptr) {
        gsize n = g_variant_n_children(objects);
        for (gsize i = 0; i < n; ++i) {
            GVariant* entry = g_variant_get_child_value(objects, i);
            GVariant* key = g_variant_get_child_value(entry, 0);
            const char* path = g_variant_is_of_type(key, G_VARIANT_TYPE_OBJECT_PATH) ||
                                       g_variant_is_of_type(key, G_VARIANT_TYPE_STRING)
                                   ? g_variant_get_string(key, nullptr)
                                   : "";
            int channel = channelFromPath(path);
            if (channel > 0)
                discoverChannel(c, channel, entry);
            else if (channel == 0)
                quillonLog(LOG_WARNING, "Warning: channel entry %s has no channel number\n",
                           variantText(key).c_str());
            g_variant_unref(key);
            g_variant_unref(entry);
        }
        g_variant_unref(objects);
    }
    g_variant_unref(reply);
}

void onAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer data)
{
    auto& c = *static_cast<Component*>(data);
    discover(c);
    ++c.discoveries;
}

gboolean setUpOnThread(gpointer data)
{
    auto& c = *static_cast<Component*>(data);
    GError* error = nullptr;
    c.bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (c.bus == nullptr) {
        quillonLog(LOG_WARNING, "Could not get a proxy to: %s : error message: %s\n", kService,
                   error->message);
        g_error_free(error);
        return G_SOURCE_REMOVE;
    }
    // Callbacks run on this thread's context (the PTZ context).
    c.watch = g_bus_watch_name_on_connection(c.bus, kService, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                             onAppeared, nullptr, &c, nullptr);
    return G_SOURCE_REMOVE;
}

std::shared_ptr<PTZ_PresetHandler> findHandler(Component& c, int channel, std::size_t& count)
{
    std::lock_guard<std::mutex> guard(c.listLock);
    count = c.handlers.size();
    for (auto& h : c.handlers)
        if (h->channel() == channel)
            return h;
    return nullptr;
}

} // namespace

int channelFromPath(const char* objectPath)
{
    static const std::regex pattern("^/com/zeto/PTZ2/Channel/([0-9]+)$");
    std::cmatch match;
    if (objectPath == nullptr || !std::regex_match(objectPath, match, pattern))
        return 0;
    std::string digits = match[1].str();
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.empty() || digits.size() > 10 || std::stoll(digits) > INT_MAX) {
        quillonLog(LOG_WARNING, "Warning: channel number %s out of range\n",
                   match[1].str().c_str());
        return -1;
    }
    return static_cast<int>(std::stoll(digits));
}

bool start()
{
    auto& c = component();
    std::lock_guard<std::mutex> guard(c.lock);
    if (c.thread.isRunning()) {
        quillonLog(LOG_WARNING, "PTZ is already initialized\n");
        return false;
    }
    c.discoveries = 0;
    c.context = g_main_context_new();
    // Discovery runs as a source of the PTZ context, once the thread has
    // made it its thread-default context.
    c.setUp = g_idle_source_new();
    g_source_set_callback(c.setUp, setUpOnThread, &c, nullptr);
    g_source_attach(c.setUp, c.context);
    return c.thread.start(nullptr, nullptr, c.context);
}

void stop()
{
    auto& c = component();
    std::lock_guard<std::mutex> guard(c.lock);
    if (c.context == nullptr)
        return;
    c.thread.stop();
    // Nobody iterates the PTZ context any more: take it to release what
    // lives on it.
    runOnContext(c.context, [&c] {
        g_source_destroy(c.setUp);
        if (c.watch != 0)
            g_bus_unwatch_name(c.watch);
        c.watch = 0;
        c.manager.reset();
        std::lock_guard<std::mutex> lists(c.listLock);
        for (auto& h : c.handlers)
            h->unsubscribe();
        c.handlers.clear();
        c.sockets.clear();
    });
    drainContext(c.context);
    if (c.bus != nullptr)
        g_object_unref(c.bus);
    c.bus = nullptr;
    g_source_unref(c.setUp);
    c.setUp = nullptr;
    g_main_context_unref(c.context);
    c.context = nullptr;
}

bool isStarted()
{
    auto& c = component();
    std::lock_guard<std::mutex> guard(c.lock);
    return c.thread.isRunning();
}

std::shared_ptr<PTZ_PresetHandler> presetHandler(int channel)
{
    std::size_t count = 0;
    auto handler = findHandler(component(), channel, count);
    if (handler == nullptr)
        quillonLog(LOG_ERR,
                   "No preset handler was found for channel %d (%zu preset handlers exist for "
                   "other channels)\n",
                   channel, count);
    return handler;
}

std::shared_ptr<PTZ_Socket> socket(int channel)
{
    auto& c = component();
    std::lock_guard<std::mutex> guard(c.listLock);
    for (auto& s : c.sockets)
        if (s->channel() == channel)
            return s;
    return nullptr;
}

std::vector<std::shared_ptr<PTZ_PresetHandler>> presetHandlers()
{
    auto& c = component();
    std::lock_guard<std::mutex> guard(c.listLock);
    return c.handlers;
}

int discoveries()
{
    return component().discoveries.load();
}

} // namespace quillon::PTZ
