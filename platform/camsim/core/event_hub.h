#pragma once

#include <glib.h>

#include <deque>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace camsim
{

// The camera's event system: declarations made through the event producer,
// subscriptions made through the event consumer, and delivery of every sent
// event to each subscription whose topic filter matches.
//
// Topics are held as the producer receives them: level keys "topic0",
// "topic1", ... with a level name and optionally a namespace. A subscription
// matches an event when it names the same number of levels and every level
// name (and every namespace the subscription gives) is equal.
class EventHub
{
public:
    // Called once per matching subscription with the "NotifyEvent" parameters
    // "(x@a{ss}@a{sv}@a{ss}@a{ss}@a{ss}@a{sv}s)" (floating reference: sink it
    // or pass it to a function that does).
    using Sink = std::function<void(const std::string& subscriber, int subscription,
                                    GVariant* notification)>;

    EventHub() = default;
    ~EventHub();
    EventHub(const EventHub&) = delete;
    EventHub& operator=(const EventHub&) = delete;

    void setSink(Sink sink) { sink_ = std::move(sink); }
    // The id the next declaration gets (then counting up); 1 by default, 0
    // or more for clients that must cope with id 0.
    void setFirstDeclarationId(int id) { nextDeclaration_ = id; }

    // Told of every event sent (declared or not), after its delivery:
    // topic as "ns:Name/ns:Name/..." and the data as events-sent shows it.
    using SentListener = std::function<void(const std::string& topic, const nlohmann::json& data)>;
    int addSentListener(SentListener listener);
    void removeSentListener(int id);
    // The latest event sent as events-sent lists it (null when none yet):
    // for a sent listener, the entry of the event it is told about.
    nlohmann::json latestSentJson() const;

    // `declaration` is "(b@a{ss}@a{sv}@a{ss}@a{ss}@a{ss}@a{sv}s)"; returns the
    // new id (>= 0) or -1 when it names no topic level.
    int declare(GVariant* declaration, const std::string& owner);
    bool undeclare(int id);
    // Sends `data` ("a{sv}") of a declared event; returns the number of
    // notifications made, or -1 for an unknown id.
    int send(int id, GVariant* data, gint64 timestampUs);
    // Sends an event that nobody declared: `topic` as "ns:Name/ns:Name/..."
    // (a "(nice name)" part is dropped), data types taken from the values.
    int sendTopic(const std::string& topic, GVariant* data, gint64 timestampUs);

    // `filter` is "(@a{ss}@a{sv}@a{ss}@a{sv})"; returns the id (> 0) or -1
    // when it names no topic level.
    int subscribe(GVariant* filter, const std::string& subscriber);
    bool unsubscribe(int id);
    // Forgets the declarations and subscriptions of a client that left.
    void dropOwner(const std::string& owner);
    // Forgets every subscription (the consumer restarted); returns how many.
    std::size_t dropSubscriptions();

    nlohmann::json declaredJson() const;
    nlohmann::json sentJson() const;
    nlohmann::json subscriptionsJson() const;

private:
    struct Topic {
        std::map<std::string, std::string> names;      // "topicN" -> level name
        std::map<std::string, std::string> namespaces; // "topicN" -> namespace
        std::string text() const;
    };
    struct Declaration {
        std::string owner;
        Topic topic;
        GVariant* variant = nullptr; // the declaration as received (owned)
    };
    struct Subscription {
        std::string subscriber;
        Topic topic;
    };
    struct Sent {
        gint64 timestampUs;
        gint64 receivedUs; // CLOCK_MONOTONIC when the hub took it
        int declaration;   // 0: undeclared topic
        std::string topic;
        nlohmann::json data; // the values as JSON (others as GVariant text)
        int deliveries;
    };

    static nlohmann::json sentEntry(const Sent& s);
    static Topic topicFrom(GVariant* names, GVariant* namespaces);
    static bool matches(const Topic& filter, const Topic& event);
    int deliver(const Topic& topic, GVariant* notification);
    void logSent(gint64 ts, int declaration, const Topic& topic, GVariant* data, int deliveries);

    std::map<int, Declaration> declarations_;
    std::map<int, Subscription> subscriptions_;
    std::deque<Sent> sent_;
    int nextDeclaration_ = 1;
    int nextSubscription_ = 1;
    Sink sink_;
    std::map<int, SentListener> sentListeners_;
    int nextSentListener_ = 1;
};

} // namespace camsim
