#include "event_hub.h"

#include <fmt/format.h>

#include "paths.h"

namespace camsim
{

using nlohmann::json;

namespace
{

constexpr std::size_t kSentKept = 200;

std::string printed(GVariant* v)
{
    gchar* text = g_variant_print(v, FALSE);
    std::string s(text);
    g_free(text);
    return s;
}

// An a{sv} as a JSON object: booleans, integers, doubles and strings as
// themselves, anything else as its GVariant text.
json dataJson(GVariant* dict)
{
    json out = json::object();
    GVariantIter it;
    const gchar* key = nullptr;
    GVariant* v = nullptr;
    g_variant_iter_init(&it, dict);
    while (g_variant_iter_next(&it, "{&sv}", &key, &v)) {
        if (g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN))
            out[key] = static_cast<bool>(g_variant_get_boolean(v));
        else if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT32))
            out[key] = g_variant_get_int32(v);
        else if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32))
            out[key] = g_variant_get_uint32(v);
        else if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT64))
            out[key] = g_variant_get_int64(v);
        else if (g_variant_is_of_type(v, G_VARIANT_TYPE_DOUBLE))
            out[key] = g_variant_get_double(v);
        else if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING))
            out[key] = g_variant_get_string(v, nullptr);
        else
            out[key] = printed(v);
        g_variant_unref(v);
    }
    return out;
}

const char* valueTypeName(GVariant* v)
{
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN))
        return "VALUE_TYPE_BOOL";
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT32) ||
        g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32) ||
        g_variant_is_of_type(v, G_VARIANT_TYPE_INT64) ||
        g_variant_is_of_type(v, G_VARIANT_TYPE_INT16))
        return "VALUE_TYPE_INT";
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_DOUBLE))
        return "VALUE_TYPE_DOUBLE";
    return "VALUE_TYPE_STRING";
}

} // namespace

EventHub::~EventHub()
{
    for (auto& [id, d] : declarations_)
        g_variant_unref(d.variant);
}

std::string EventHub::Topic::text() const
{
    std::string out;
    for (auto& [key, name] : names) {
        if (!out.empty())
            out += "/";
        auto ns = namespaces.find(key);
        if (ns != namespaces.end() && !ns->second.empty())
            out += ns->second + ":";
        out += name;
    }
    return out;
}

EventHub::Topic EventHub::topicFrom(GVariant* names, GVariant* namespaces)
{
    Topic t;
    GVariantIter it;
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    g_variant_iter_init(&it, names);
    while (g_variant_iter_next(&it, "{&sv}", &key, &value)) {
        if (g_str_has_prefix(key, "topic") && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
            t.names[key] = g_variant_get_string(value, nullptr);
        g_variant_unref(value);
    }
    const gchar* ns = nullptr;
    g_variant_iter_init(&it, namespaces);
    while (g_variant_iter_next(&it, "{&s&s}", &key, &ns))
        t.namespaces[key] = ns;
    return t;
}

bool EventHub::matches(const Topic& filter, const Topic& event)
{
    if (filter.names.empty() || filter.names != event.names)
        return false;
    for (auto& [key, ns] : filter.namespaces) {
        auto it = event.namespaces.find(key);
        if (it != event.namespaces.end() && it->second != ns)
            return false;
    }
    return true;
}

int EventHub::declare(GVariant* declaration, const std::string& owner)
{
    GVariant* names = g_variant_get_child_value(declaration, 2);
    GVariant* namespaces = g_variant_get_child_value(declaration, 5);
    Topic topic = topicFrom(names, namespaces);
    g_variant_unref(names);
    g_variant_unref(namespaces);
    if (topic.names.empty())
        return -1;
    int id = nextDeclaration_++;
    declarations_[id] = Declaration{owner, std::move(topic), g_variant_ref_sink(declaration)};
    return id;
}

bool EventHub::undeclare(int id)
{
    auto it = declarations_.find(id);
    if (it == declarations_.end())
        return false;
    g_variant_unref(it->second.variant);
    declarations_.erase(it);
    return true;
}

int EventHub::send(int id, GVariant* data, gint64 timestampUs)
{
    auto it = declarations_.find(id);
    if (it == declarations_.end()) {
        if (g_variant_is_floating(data))
            g_variant_unref(g_variant_ref_sink(data));
        return -1;
    }
    GVariant* d = it->second.variant;
    g_variant_ref_sink(data);

    // Topic level names and the event's values share one dictionary.
    GVariantBuilder values;
    g_variant_builder_init(&values, G_VARIANT_TYPE("a{sv}"));
    GVariant* names = g_variant_get_child_value(d, 2);
    GVariantIter iter;
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    g_variant_iter_init(&iter, names);
    while (g_variant_iter_next(&iter, "{&sv}", &key, &value)) {
        g_variant_builder_add(&values, "{sv}", key, value);
        g_variant_unref(value);
    }
    g_variant_unref(names);
    g_variant_iter_init(&iter, data);
    while (g_variant_iter_next(&iter, "{&sv}", &key, &value)) {
        g_variant_builder_add(&values, "{sv}", key, value);
        g_variant_unref(value);
    }

    GVariant* c[8];
    for (int i = 1; i < 8; ++i)
        c[i] = g_variant_get_child_value(d, static_cast<gsize>(i));
    GVariant* notification = g_variant_ref_sink(
        g_variant_new("(x@a{ss}@a{sv}@a{ss}@a{ss}@a{ss}@a{sv}@s)", timestampUs, c[1],
                      g_variant_builder_end(&values), c[3], c[4], c[5], c[6], c[7]));
    for (int i = 1; i < 8; ++i)
        g_variant_unref(c[i]);

    int n = deliver(it->second.topic, notification);
    logSent(timestampUs, id, it->second.topic, data, n);
    g_variant_unref(notification);
    g_variant_unref(data);
    return n;
}

int EventHub::sendTopic(const std::string& topicText, GVariant* data, gint64 timestampUs)
{
    g_variant_ref_sink(data);
    Topic topic;
    int index = 0;
    gchar** levels = g_strsplit(topicText.c_str(), "/", -1);
    for (gchar** l = levels; *l != nullptr; ++l) {
        std::string level(*l);
        if (level.empty())
            continue;
        std::string ns;
        auto colon = level.find(':');
        if (colon != std::string::npos) {
            ns = level.substr(0, colon);
            level = level.substr(colon + 1);
        }
        level = level.substr(0, level.find_first_of("({"));
        std::string key = fmt::format("topic{}", index++);
        topic.names[key] = level;
        if (!ns.empty())
            topic.namespaces[key] = ns;
    }
    g_strfreev(levels);

    GVariantBuilder types, values, namespaces;
    g_variant_builder_init(&types, G_VARIANT_TYPE("a{ss}"));
    g_variant_builder_init(&values, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_init(&namespaces, G_VARIANT_TYPE("a{ss}"));
    for (auto& [key, name] : topic.names) {
        g_variant_builder_add(&types, "{ss}", key.c_str(), "VALUE_TYPE_STRING");
        g_variant_builder_add(&values, "{sv}", key.c_str(), g_variant_new_string(name.c_str()));
    }
    for (auto& [key, ns] : topic.namespaces)
        g_variant_builder_add(&namespaces, "{ss}", key.c_str(), ns.c_str());
    GVariantIter iter;
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    g_variant_iter_init(&iter, data);
    while (g_variant_iter_next(&iter, "{&sv}", &key, &value)) {
        g_variant_builder_add(&types, "{ss}", key, valueTypeName(value));
        g_variant_builder_add(&values, "{sv}", key, value);
        g_variant_unref(value);
    }
    GVariant* notification = g_variant_ref_sink(g_variant_new(
        "(x@a{ss}@a{sv}@a{ss}@a{ss}@a{ss}@a{sv}s)", timestampUs, g_variant_builder_end(&types),
        g_variant_builder_end(&values), g_variant_new_array(G_VARIANT_TYPE("{ss}"), nullptr, 0),
        g_variant_new_array(G_VARIANT_TYPE("{ss}"), nullptr, 0), g_variant_builder_end(&namespaces),
        g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0), ""));
    int n = topic.names.empty() ? 0 : deliver(topic, notification);
    logSent(timestampUs, 0, topic, data, n);
    g_variant_unref(notification);
    g_variant_unref(data);
    return n;
}

int EventHub::deliver(const Topic& topic, GVariant* notification)
{
    int n = 0;
    // Copy: the sink must not see the map change under it.
    auto subs = subscriptions_;
    for (auto& [id, s] : subs) {
        if (!matches(s.topic, topic))
            continue;
        ++n;
        if (sink_)
            sink_(s.subscriber, id, notification);
    }
    return n;
}

void EventHub::logSent(gint64 ts, int declaration, const Topic& topic, GVariant* data,
                       int deliveries)
{
    sent_.push_back(Sent{ts, monotonicUs(), declaration, topic.text(), dataJson(data), deliveries});
    while (sent_.size() > kSentKept)
        sent_.pop_front();
    // Copy: a listener may add or remove listeners.
    auto listeners = sentListeners_;
    for (auto& [id, l] : listeners)
        l(sent_.back().topic, sent_.back().data);
}

int EventHub::addSentListener(SentListener listener)
{
    int id = nextSentListener_++;
    sentListeners_.emplace(id, std::move(listener));
    return id;
}

void EventHub::removeSentListener(int id)
{
    sentListeners_.erase(id);
}

int EventHub::subscribe(GVariant* filter, const std::string& subscriber)
{
    GVariant* names = g_variant_get_child_value(filter, 1);
    GVariant* namespaces = g_variant_get_child_value(filter, 2);
    Topic topic = topicFrom(names, namespaces);
    g_variant_unref(names);
    g_variant_unref(namespaces);
    if (topic.names.empty())
        return -1;
    int id = nextSubscription_++;
    subscriptions_[id] = Subscription{subscriber, std::move(topic)};
    return id;
}

bool EventHub::unsubscribe(int id)
{
    return subscriptions_.erase(id) > 0;
}

void EventHub::dropOwner(const std::string& owner)
{
    std::erase_if(subscriptions_, [&](const auto& e) { return e.second.subscriber == owner; });
    for (auto it = declarations_.begin(); it != declarations_.end();) {
        if (it->second.owner == owner) {
            g_variant_unref(it->second.variant);
            it = declarations_.erase(it);
        } else {
            ++it;
        }
    }
}

std::size_t EventHub::dropSubscriptions()
{
    std::size_t n = subscriptions_.size();
    subscriptions_.clear();
    return n;
}

json EventHub::declaredJson() const
{
    json out = json::array();
    for (auto& [id, d] : declarations_)
        out.push_back({{"id", id},
                       {"owner", d.owner},
                       {"topic", d.topic.text()},
                       {"declaration", printed(d.variant)}});
    return out;
}

json EventHub::sentJson() const
{
    json out = json::array();
    for (auto& s : sent_)
        out.push_back(sentEntry(s));
    return out;
}

json EventHub::latestSentJson() const
{
    return sent_.empty() ? json(nullptr) : sentEntry(sent_.back());
}

json EventHub::sentEntry(const Sent& s)
{
    return {
        {"timestamp", s.timestampUs}, {"received", s.receivedUs}, {"declaration", s.declaration},
        {"topic", s.topic},           {"data", s.data},           {"deliveries", s.deliveries}};
}

json EventHub::subscriptionsJson() const
{
    json out = json::array();
    for (auto& [id, s] : subscriptions_)
        out.push_back({{"id", id}, {"subscriber", s.subscriber}, {"topic", s.topic.text()}});
    return out;
}

} // namespace camsim
