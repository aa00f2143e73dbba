// The camera's event services: "com.zeto.EventProducerd1" takes declarations
// and events, "com.zeto.EventConsumerd1" takes subscriptions and sends each
// matching event to its subscriber as a "NotifyEvent" signal. The matching
// itself is the core's EventHub, which the control surface shares.
#include <fmt/format.h>

#include <stdexcept>
#include <string_view>
#include <vector>

#include "camsim/core/gerror.h"
#include "camsim/core/module.h"

namespace camsim
{

namespace
{

constexpr const char* kProducerName = "com.zeto.EventProducerd1";
constexpr const char* kProducerPath = "/com/zeto/EventProducerd1";
constexpr const char* kConsumerName = "com.zeto.EventConsumerd1";
constexpr const char* kConsumerPath = "/com/zeto/EventConsumerd1";
constexpr const char* kErrorInvalid = "com.zeto.Event.Error.Invalid";

constexpr const char* kIntrospection = R"XML(
<node>
  <interface name="com.zeto.EventProducerd1">
    <method name="DeclareEvent">
      <arg type="b" name="leading" direction="in"/>
      <arg type="a{ss}" name="valueTypes" direction="in"/>
      <arg type="a{sv}" name="topicNames" direction="in"/>
      <arg type="a{ss}" name="niceNames" direction="in"/>
      <arg type="a{ss}" name="topicNiceNames" direction="in"/>
      <arg type="a{ss}" name="namespaces" direction="in"/>
      <arg type="a{sv}" name="tags" direction="in"/>
      <arg type="s" name="propertyState" direction="in"/>
      <arg type="i" name="id" direction="out"/>
    </method>
    <method name="SendEvent">
      <arg type="i" name="id" direction="in"/>
      <arg type="a{sv}" name="data" direction="in"/>
      <arg type="x" name="timestamp" direction="in"/>
    </method>
    <method name="UndeclareEvent">
      <arg type="i" name="id" direction="in"/>
    </method>
  </interface>
  <interface name="com.zeto.EventConsumerd1">
    <method name="Subscribe">
      <arg type="a{ss}" name="valueTypes" direction="in"/>
      <arg type="a{sv}" name="topicNames" direction="in"/>
      <arg type="a{ss}" name="namespaces" direction="in"/>
      <arg type="a{sv}" name="tags" direction="in"/>
      <arg type="i" name="id" direction="out"/>
    </method>
    <method name="Unsubscribe">
      <arg type="i" name="id" direction="in"/>
    </method>
    <signal name="NotifyEvent">
      <arg type="x" name="timestamp"/>
      <arg type="a{ss}" name="valueTypes"/>
      <arg type="a{sv}" name="values"/>
      <arg type="a{ss}" name="niceNames"/>
      <arg type="a{ss}" name="topicNiceNames"/>
      <arg type="a{ss}" name="namespaces"/>
      <arg type="a{sv}" name="tags"/>
      <arg type="s" name="propertyState"/>
    </signal>
    <signal name="EventDeclarationAdded"><arg type="i" name="id"/></signal>
    <signal name="EventDeclarationRemoved"><arg type="i" name="id"/></signal>
  </interface>
</node>
)XML";

class EventServices : public Module
{
public:
    void addOptions(Options& options) override
    {
        options.addInt("events-first-id", "id of the first event declaration (default 1)",
                       &firstId_);
    }

    void start(Context& ctx) override
    {
        ctx_ = &ctx;
        if (firstId_ < 0)
            throw std::runtime_error("--events-first-id must be 0 or more");
        ctx.events.setFirstDeclarationId(firstId_);
        GError* err = nullptr;
        info_ = g_dbus_node_info_new_for_xml(kIntrospection, &err);
        if (info_ == nullptr)
            throwGError("introspection", err);
        registerObject(kProducerPath, kProducerName);
        registerObject(kConsumerPath, kConsumerName);

        ctx.events.setSink([this](const std::string& subscriber, int, GVariant* notification) {
            GError* e = nullptr;
            if (!g_dbus_connection_emit_signal(ctx_->bus, subscriber.c_str(), kConsumerPath,
                                               kConsumerName, "NotifyEvent", notification, &e)) {
                g_message("NotifyEvent to %s failed: %s", subscriber.c_str(), e->message);
                g_error_free(e);
            }
        });
        // Clients that leave the bus take their declarations and subscriptions.
        ownerWatch_ = g_dbus_connection_signal_subscribe(
            ctx.bus, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
            "/org/freedesktop/DBus", nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onOwnerChanged, this,
            nullptr);

        ctx.control.add("event-fault",
                        "mode=refuse-declare: DeclareEvent fails with an error; mode=none: normal",
                        [this](const nlohmann::json& r) {
                            const std::string mode = ControlSurface::text(r, "mode");
                            if (mode != "refuse-declare" && mode != "none")
                                throw ControlError("mode must be refuse-declare or none");
                            refuseDeclare_ = mode == "refuse-declare";
                            return nlohmann::json(nullptr);
                        });

        ctx.ownName(kProducerName);
        ctx.ownName(kConsumerName);

        ctx.control.add("events-restart",
                        "the event consumer restarts: drops every subscription, releases "
                        "com.zeto.EventConsumerd1 and owns it again after away=SECONDS (default 0)",
                        [this](const nlohmann::json& r) { return restartConsumer(r); });
    }

    void stop() override
    {
        if (ctx_ == nullptr)
            return;
        ctx_->events.setSink(nullptr);
        cancelReturn();
        g_dbus_connection_signal_unsubscribe(ctx_->bus, ownerWatch_);
        for (guint id : registrations_)
            g_dbus_connection_unregister_object(ctx_->bus, id);
        registrations_.clear();
        g_dbus_node_info_unref(info_);
        info_ = nullptr;
        ctx_ = nullptr;
    }

    ~EventServices() override { stop(); }

private:
    // A restarting consumer forgets its subscribers and is away from the bus
    // for a while: clients see the name vanish and come back.
    nlohmann::json restartConsumer(const nlohmann::json& request)
    {
        double away = ControlSurface::number(request, "away", 0.0);
        if (!(away >= 0.0 && away <= 3600.0))
            throw ControlError("away must be 0 to 3600 seconds");
        cancelReturn();
        std::size_t dropped = ctx_->events.dropSubscriptions();
        GError* err = nullptr;
        GVariant* r = g_dbus_connection_call_sync(
            ctx_->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "ReleaseName", g_variant_new("(s)", kConsumerName), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &err);
        if (r == nullptr) {
            std::string msg = err->message;
            g_error_free(err);
            throw ControlError("cannot release " + std::string(kConsumerName) + ": " + msg);
        }
        g_variant_unref(r);
        returnTimer_ = ctx_->addTimer(static_cast<unsigned>(away * 1000.0), [this]() {
            g_source_unref(returnTimer_);
            returnTimer_ = nullptr;
            try {
                ctx_->ownName(kConsumerName);
            } catch (const std::exception& e) {
                g_message("events-restart: %s", e.what());
            }
            return false;
        });
        return nlohmann::json{{"dropped", dropped}, {"away", away}};
    }

    void cancelReturn()
    {
        if (returnTimer_ == nullptr)
            return;
        g_source_destroy(returnTimer_);
        g_source_unref(returnTimer_);
        returnTimer_ = nullptr;
    }

    void registerObject(const char* path, const char* iface)
    {
        static const GDBusInterfaceVTable vtable = {onMethod, nullptr, nullptr, {}};
        GError* err = nullptr;
        guint id = g_dbus_connection_register_object(
            ctx_->bus, path, g_dbus_node_info_lookup_interface(info_, iface), &vtable, this,
            nullptr, &err);
        if (id == 0)
            throwGError(path, err);
        registrations_.push_back(id);
    }

    static void onOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                               const gchar*, GVariant* params, gpointer data)
    {
        const gchar *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
        g_variant_get(params, "(&s&s&s)", &name, &oldOwner, &newOwner);
        if (name[0] == ':' && newOwner[0] == '\0')
            static_cast<EventServices*>(data)->ctx_->events.dropOwner(name);
    }

    static void onMethod(GDBusConnection* bus, const gchar* sender, const gchar*, const gchar*,
                         const gchar* method, GVariant* params, GDBusMethodInvocation* inv,
                         gpointer data)
    {
        auto* self = static_cast<EventServices*>(data);
        EventHub& hub = self->ctx_->events;
        std::string_view m(method);
        if (m == "DeclareEvent" && self->refuseDeclare_) {
            g_dbus_method_invocation_return_dbus_error(inv, kErrorInvalid,
                                                       "declarations refused (event-fault)");
        } else if (m == "DeclareEvent") {
            int id = hub.declare(params, sender != nullptr ? sender : "");
            if (id < 0) {
                g_dbus_method_invocation_return_dbus_error(inv, kErrorInvalid,
                                                           "the declaration names no topic");
                return;
            }
            g_dbus_method_invocation_return_value(inv, g_variant_new("(i)", id));
            g_dbus_connection_emit_signal(bus, nullptr, kConsumerPath, kConsumerName,
                                          "EventDeclarationAdded", g_variant_new("(i)", id),
                                          nullptr);
        } else if (m == "SendEvent") {
            gint32 id = 0;
            gint64 ts = 0;
            GVariant* values = nullptr;
            g_variant_get(params, "(i@a{sv}x)", &id, &values, &ts);
            int n = hub.send(id, values, ts);
            g_variant_unref(values);
            if (n < 0) {
                g_dbus_method_invocation_return_dbus_error(inv, kErrorInvalid,
                                                           "unknown declaration id");
                return;
            }
            g_dbus_method_invocation_return_value(inv, nullptr);
        } else if (m == "UndeclareEvent") {
            gint32 id = 0;
            g_variant_get(params, "(i)", &id);
            if (!hub.undeclare(id)) {
                g_dbus_method_invocation_return_dbus_error(inv, kErrorInvalid,
                                                           "unknown declaration id");
                return;
            }
            g_dbus_method_invocation_return_value(inv, nullptr);
            g_dbus_connection_emit_signal(bus, nullptr, kConsumerPath, kConsumerName,
                                          "EventDeclarationRemoved", g_variant_new("(i)", id),
                                          nullptr);
        } else if (m == "Subscribe") {
            int id = hub.subscribe(params, sender != nullptr ? sender : "");
            if (id < 0) {
                g_dbus_method_invocation_return_dbus_error(inv, kErrorInvalid,
                                                           "the filter names no topic");
                return;
            }
            g_dbus_method_invocation_return_value(inv, g_variant_new("(i)", id));
        } else if (m == "Unsubscribe") {
            gint32 id = 0;
            g_variant_get(params, "(i)", &id);
            if (!hub.unsubscribe(id)) {
                g_dbus_method_invocation_return_dbus_error(inv, kErrorInvalid,
                                                           "unknown subscription id");
                return;
            }
            g_dbus_method_invocation_return_value(inv, nullptr);
        } else {
            g_dbus_method_invocation_return_error(inv, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
                                                  "unknown method %s", method);
        }
    }

    bool refuseDeclare_ = false; // event-fault mode=refuse-declare
    Context* ctx_ = nullptr;
    GDBusNodeInfo* info_ = nullptr;
    std::vector<guint> registrations_;
    guint ownerWatch_ = 0;
    int firstId_ = 1;
    GSource* returnTimer_ = nullptr; // owns the consumer name again after events-restart
};

} // namespace

} // namespace camsim

using camsim::EventServices;
CAMSIM_MODULE(EventServices, "events", 20)
