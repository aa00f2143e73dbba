#include "quillon/events/listener/event_listener.h"

#include "quillon/core/log.h"
#include "quillon/events/dbus/context_call.h"
#include "quillon/events/dbus/dbus_proxy.h"
#include "quillon/events/listener/notify_event.h"
#include "quillon/events/producer/event_declaration.h"

namespace quillon
{

namespace
{

constexpr const char* kLeaves[] = {"SetAutoTriggers", "SetProfile", "SetTemporaryZone"};

} // namespace

std::string EventListener::topicOf(const std::string& leaf)
{
    return std::string("tnszeto") + ":" + "Plinth" + "/" + "tnszeto" + ":" + "Quillon" + "/" +
           "tnszeto" + ":" + leaf;
}

std::string EventListener::leafOf(const std::string& topic)
{
    std::string level =
        topic.substr(topic.rfind('/') == std::string::npos ? 0 : topic.rfind('/') + 1);
    auto colon = level.rfind(':');
    return colon == std::string::npos ? level : level.substr(colon + 1);
}

EventListener::EventListener() : context_(g_main_context_new())
{
    // Set up before the event thread runs, with its context as
    // thread-default, so that the proxy's signals and the name watch are
    // dispatched there.
    runOnContext(context_, [this] {
        consumer_ = std::make_unique<DBusProxy>(kService, kObjectPath, kInterface);
        subscribeAll();
        GDBusProxy* proxy = consumer_->proxy();
        if (proxy == nullptr)
            return;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!subscriptions_.empty())
                subscribedOwner_ = consumer_->nameOwner();
        }
        signalHandler_ = g_signal_connect(proxy, "g-signal", G_CALLBACK(onSignal), this);
        watch_ = g_bus_watch_name_on_connection(g_dbus_proxy_get_connection(proxy), kService,
                                                G_BUS_NAME_WATCHER_FLAGS_NONE, onAppeared,
                                                onVanished, this, nullptr);
    });
    thread_.start(nullptr, nullptr, context_);
}

EventListener::~EventListener()
{
    stop();
    runOnContext(context_, [this] {
        if (watch_ != 0)
            g_bus_unwatch_name(watch_);
        watch_ = 0;
        if (signalHandler_ != 0)
            g_signal_handler_disconnect(consumer_->proxy(), signalHandler_);
        signalHandler_ = 0;
        consumer_.reset();
    });
    thread_.stop();
    drainContext(context_);
    g_main_context_unref(context_);
}

void EventListener::handleMessage(const std::shared_ptr<Message>&) {}

void EventListener::prepareToShutdown()
{
    stop();
}

std::size_t EventListener::subscriptionCount() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return subscriptions_.size();
}

std::map<std::string, std::int32_t> EventListener::subscriptions() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return subscriptions_;
}

void EventListener::stop()
{
    std::map<std::string, std::int32_t> dropped;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopped_ = true;
        dropped.swap(subscriptions_);
        subscribedOwner_.clear();
    }
    for (const auto& [leaf, id] : dropped)
        consumer_->callAsync("Unsubscribe", g_variant_new("(i)", id));
}

void EventListener::subscribeAll()
{
    for (const char* leaf : kLeaves)
        subscribe(topicOf(leaf), "");
}

std::int32_t EventListener::subscribe(const std::string& topic, const std::string& keySpec)
{
    std::int32_t id = -1;
    GVariant* reply = consumer_->callSync("Subscribe", generateEventSubscription(topic, keySpec));
    if (reply != nullptr) {
        if (g_variant_is_of_type(reply, G_VARIANT_TYPE("(i)")))
            g_variant_get(reply, "(i)", &id);
        else
            quillonLog(LOG_WARNING, "Subscribe to %s answered %s, no id\n", topic.c_str(),
                       variantText(reply).c_str());
        g_variant_unref(reply);
    }
    if (id == -1)
        return id;
    bool late = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        late = stopped_;
        if (!late)
            subscriptions_[leafOf(topic)] = id;
    }
    if (late) // stopped while the call was under way
        consumer_->callAsync("Unsubscribe", g_variant_new("(i)", id));
    return id;
}

void EventListener::onSignal(GDBusProxy*, const gchar*, const gchar* signal, GVariant* parameters,
                             gpointer)
{
    if (g_strcmp0(signal, "NotifyEvent") == 0)
        handleNotifyEvent(parameters, daemonEventActions());
}

void EventListener::onAppeared(GDBusConnection*, const gchar* name, const gchar* owner,
                               gpointer data)
{
    auto* self = static_cast<EventListener*>(data);
    {
        std::lock_guard<std::mutex> guard(self->lock_);
        if (self->stopped_ || self->subscribedOwner_ == owner)
            return; // stopped, or the subscriptions were made with this owner
        // Ids of another owner are gone with it.
        self->subscriptions_.clear();
        self->subscribedOwner_ = owner;
    }
    quillonLog(LOG_INFO, "Event consumer %s appeared as %s: subscribing again\n", name, owner);
    self->subscribeAll();
    quillonLog(LOG_INFO, "Event consumer %s: %zu of 3 subscriptions made\n", name,
               self->subscriptionCount());
}

void EventListener::onVanished(GDBusConnection*, const gchar* name, gpointer data)
{
    auto* self = static_cast<EventListener*>(data);
    std::size_t forgotten = 0;
    bool known = false;
    {
        std::lock_guard<std::mutex> guard(self->lock_);
        if (self->stopped_)
            return;
        forgotten = self->subscriptions_.size();
        known = forgotten > 0 || !self->subscribedOwner_.empty();
        self->subscriptions_.clear();
        self->subscribedOwner_.clear();
    }
    if (known)
        quillonLog(LOG_WARNING, "Event consumer %s vanished: %zu subscriptions forgotten\n", name,
                   forgotten);
    else
        quillonLog(LOG_WARNING, "Event consumer %s is not on the bus: waiting for it\n", name);
}

} // namespace quillon
