#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "quillon/core/main_loop_thread.h"
#include "quillon/core/message_receiver.h"

namespace quillon
{

class DBusProxy;

// Turns external events (auto-triggers on/off, zone profile activation,
// temporary trigger zones) into bus messages and zone-store changes; see
// notify_event.h. Created and subscribed by the TrackerService; its
// handleMessage ignores every message.
//
// Subscribes the three topics on the camera's event consumer and keeps the
// ids by topic leaf name. It follows the consumer's name: when the consumer
// (re)appears under a new owner the topics are subscribed again and the ids
// replaced; when it vanishes the ids are forgotten (they died with it).
// stop (prepareToShutdown, destruction) unsubscribes in key order and
// subscribes nothing more.
//
// Threads: the listener's own main-loop thread (the event thread) owns the
// consumer proxy, its "g-signal" handler and the name watch; NotifyEvent and
// the name callbacks run there. Construction and destruction on the
// TrackerService's thread: construction sets up with the event context as
// thread-default before the event thread starts; destruction tears down on
// the event thread (runOnContext), waiting for it, then ends the thread. `lock_` guards the
// subscriptions, the owner they were made with and `stopped_`, which the
// event thread and stop() (bus or main thread) share. The handlers only post
// bus messages or call the zone store under its lock; nothing waits for the
// event thread except construction and destruction.
class EventListener : public MessageReceiver
{
public:
    static constexpr const char* kService = "com.zeto.EventConsumerd1";
    static constexpr const char* kObjectPath = "/com/zeto/EventConsumerd1";
    static constexpr const char* kInterface = "com.zeto.EventConsumerd1";

    EventListener();
    ~EventListener() override;
    EventListener(const EventListener&) = delete;
    EventListener& operator=(const EventListener&) = delete;

    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override;

    std::size_t subscriptionCount() const;
    // Leaf name -> subscription id.
    std::map<std::string, std::int32_t> subscriptions() const;

    // "tnszeto:Plinth/tnszeto:Quillon/tnszeto:<leaf>" for the three leaves.
    static std::string topicOf(const std::string& leaf);
    // The text after the last ":" of the last "/"-separated level.
    static std::string leafOf(const std::string& topic);

private:
    void stop();
    // Event thread: subscribes the three topics, replacing stored ids.
    void subscribeAll();
    // "Subscribe" (synchronous); stores the id unless it is -1.
    std::int32_t subscribe(const std::string& topic, const std::string& keySpec);

    static void onSignal(GDBusProxy*, const gchar* sender, const gchar* signal,
                         GVariant* parameters, gpointer data);
    static void onAppeared(GDBusConnection*, const gchar* name, const gchar* owner, gpointer data);
    static void onVanished(GDBusConnection*, const gchar* name, gpointer data);

    MainLoopThread thread_;
    GMainContext* context_ = nullptr;     // the event thread's context (owned)
    std::unique_ptr<DBusProxy> consumer_; // event thread
    gulong signalHandler_ = 0;            // event thread
    guint watch_ = 0;                     // event thread

    mutable std::mutex lock_;
    std::map<std::string, std::int32_t> subscriptions_; // leaf name -> id
    std::string subscribedOwner_;                       // unique name the ids belong to ("" none)
    bool stopped_ = false;
};

} // namespace quillon
