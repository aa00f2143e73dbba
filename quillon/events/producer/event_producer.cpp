#include "quillon/events/producer/event_producer.h"

#include "quillon/events/dbus/dbus_proxy.h"
#include "quillon/events/producer/event_declaration.h"

namespace quillon
{

int64_t wallClockUs(int64_t monotonicUs)
{
    return g_get_real_time() + (monotonicUs - g_get_monotonic_time());
}

EventProducer::EventProducer()
{
    std::lock_guard<std::mutex> guard(lock_);
    proxy_ = std::make_unique<DBusProxy>("com.zeto.EventProducerd1", "/com/zeto/EventProducerd1",
                                         "com.zeto.EventProducerd1");
}

EventProducer::~EventProducer()
{
    std::lock_guard<std::mutex> guard(lock_);
    proxy_.reset();
}

int32_t EventProducer::declareWith(GVariant* argument)
{
    // Without an argument the call still goes out: the producer's refusal
    // is the answer.
    GVariant* reply = proxy_->callSync("DeclareEvent", argument, DBusProxy::kBusThreadTimeoutMs);
    if (reply == nullptr)
        return -1;
    int32_t id = -1;
    if (g_variant_is_container(reply) && g_variant_n_children(reply) == 1) {
        GVariant* child = g_variant_get_child_value(reply, 0);
        if (g_variant_is_of_type(child, G_VARIANT_TYPE_INT32))
            id = g_variant_get_int32(child);
        g_variant_unref(child);
    }
    g_variant_unref(reply);
    return id;
}

int32_t EventProducer::declare(const std::string& topic, const std::string& keySpec, bool leading)
{
    return declareWith(generateEventDeclaration(topic, keySpec, leading));
}

int32_t EventProducer::declareFlagged(const std::vector<std::string>& topicLevels,
                                      const std::string& keyName, uint32_t flags, int32_t valueType)
{
    return declareWith(declareFlaggedEvent(topicLevels, keyName, flags, valueType));
}

void EventProducer::sendString(int32_t id, const std::string& key, const std::string& text,
                               int64_t timestampUs)
{
    sendValues(id, {{key, eventString(text)}}, timestampUs);
}

void EventProducer::sendBool(int32_t id, const std::string& key, bool value, int64_t timestampUs)
{
    sendValues(id, {{key, g_variant_new_boolean(value)}}, timestampUs);
}

void EventProducer::sendValues(int32_t id,
                               const std::vector<std::pair<std::string, GVariant*>>& values,
                               int64_t timestampUs)
{
    // Built from the children in one step: builders and format strings cost
    // several times more on the sending thread.
    std::vector<GVariant*> entries;
    entries.reserve(values.size());
    for (auto& [key, value] : values)
        entries.push_back(g_variant_new_dict_entry(g_variant_new_string(key.c_str()),
                                                   g_variant_new_variant(value)));
    GVariant* members[] = {
        g_variant_new_int32(id),
        g_variant_new_array(G_VARIANT_TYPE("{sv}"), entries.data(), entries.size()),
        g_variant_new_int64(timestampUs)};
    proxy_->callAsync("SendEvent", g_variant_new_tuple(members, G_N_ELEMENTS(members)));
}

void EventProducer::undeclare(int32_t id)
{
    proxy_->callAsync("UndeclareEvent", g_variant_new("(i)", id));
}

std::string EventProducer::owner() const
{
    return proxy_->nameOwner();
}

} // namespace quillon
