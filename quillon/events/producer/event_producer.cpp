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
    sendValues(id, {{key, g_variant_new_string(text.c_str())}}, timestampUs);
}

void EventProducer::sendBool(int32_t id, const std::string& key, bool value, int64_t timestampUs)
{
    sendValues(id, {{key, g_variant_new_boolean(value)}}, timestampUs);
}

void EventProducer::sendValues(int32_t id,
                               const std::vector<std::pair<std::string, GVariant*>>& values,
                               int64_t timestampUs)
{
    GVariantBuilder data;
    g_variant_builder_init(&data, G_VARIANT_TYPE("a{sv}"));
    for (auto& [key, value] : values)
        g_variant_builder_add(&data, "{sv}", key.c_str(), value);
    proxy_->callAsync("SendEvent", g_variant_new("(i@a{sv}x)", id, g_variant_builder_end(&data),
                                                 static_cast<gint64>(timestampUs)));
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
