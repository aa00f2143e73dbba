#include "quillon/events/dbus/dbus_proxy.h"

#include <algorithm>

#include "quillon/core/log.h"
#include "quillon/events/dbus/context_call.h"

namespace quillon
{

namespace
{

GVariant* finishCall(GVariant* reply, GError* error, const char* method)
{
    if (reply == nullptr) {
        quillonLog(LOG_WARNING, "An error occurred when invoking method: %s : %s\n", method,
                   error != nullptr ? error->message : "no reply");
        g_clear_error(&error);
    }
    return reply;
}

} // namespace

struct DBusProxy::OwnerState {
    std::string service;
    std::mutex lock;
    std::string owner;
    bool changed = false; // a NameOwnerChanged was seen
};

namespace
{

using OwnerStatePtr = std::shared_ptr<DBusProxy::OwnerState>;

// Runs on GIO's connection thread for every message, in arrival order.
GDBusMessage* followOwner(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data)
{
    if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_SIGNAL ||
        g_strcmp0(g_dbus_message_get_member(message), "NameOwnerChanged") != 0 ||
        g_strcmp0(g_dbus_message_get_sender(message), "org.freedesktop.DBus") != 0)
        return message;
    GVariant* body = g_dbus_message_get_body(message);
    if (body == nullptr || !g_variant_is_of_type(body, G_VARIANT_TYPE("(sss)")))
        return message;
    const gchar *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    g_variant_get(body, "(&s&s&s)", &name, &oldOwner, &newOwner);
    auto& state = **static_cast<OwnerStatePtr*>(data);
    if (state.service == name) {
        std::lock_guard<std::mutex> guard(state.lock);
        state.owner = newOwner;
        state.changed = true;
    }
    return message;
}

void freeOwnerState(gpointer data)
{
    delete static_cast<OwnerStatePtr*>(data);
}

} // namespace

DBusProxy::DBusProxy(std::string service, std::string objectPath, std::string interface)
    : service_(std::move(service)), objectPath_(std::move(objectPath)),
      interface_(std::move(interface))
{
    GMainContext* own = g_main_context_get_thread_default();
    context_ = g_main_context_ref(own != nullptr ? own : dbusThreadContext());
    runOnContext(context_, [this] {
        GError* error = nullptr;
        // Properties are not read through this proxy; loading them would be
        // one more call without a time-out when the service is frozen.
        proxy_ = g_dbus_proxy_new_for_bus_sync(
            G_BUS_TYPE_SYSTEM, G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES, nullptr, service_.c_str(),
            objectPath_.c_str(), interface_.c_str(), nullptr, &error);
        if (proxy_ == nullptr) {
            std::string message =
                error != nullptr ? std::string(error->message)
                                 : "Service name (" + service_ + "), object name (" + objectPath_ +
                                       ") or interface name (" + interface_ + ") is incorrect.";
            quillonLog(LOG_WARNING, "Could not get a proxy to: %s : error message: %s\n",
                       interface_.c_str(), message.c_str());
            g_clear_error(&error);
            return;
        }
        connection_ = g_dbus_proxy_get_connection(proxy_);
        // The bus connection stays for the life of the process: when the
        // last proxy let go of it, messages still queued (sends that expect
        // no reply) would be dropped with it.
        static GDBusConnection* const kept = G_DBUS_CONNECTION(g_object_ref(connection_));
        (void)kept;
    });
    if (proxy_ == nullptr)
        return;
    // The proxy's match rule brings the service's NameOwnerChanged signals;
    // the filter sees them on the connection thread whatever context (if
    // any) is iterated. The filter may outlive this object by a moment, so
    // it holds its own reference to the state.
    owner_ = std::make_shared<OwnerState>();
    owner_->service = service_;
    ownerFilter_ = g_dbus_connection_add_filter(connection_, followOwner, new OwnerStatePtr(owner_),
                                                freeOwnerState);
    gchar* initial = g_dbus_proxy_get_name_owner(proxy_);
    {
        std::lock_guard<std::mutex> guard(owner_->lock);
        if (!owner_->changed)
            owner_->owner = initial != nullptr ? initial : "";
    }
    g_free(initial);
}

DBusProxy::~DBusProxy()
{
    if (ownerFilter_ != 0)
        g_dbus_connection_remove_filter(connection_, ownerFilter_);
    runOnContext(context_, [this] {
        std::lock_guard<std::mutex> guard(lock_);
        for (guint id : subscriptions_)
            g_dbus_connection_signal_unsubscribe(connection_, id);
        subscriptions_.clear();
        if (proxy_ != nullptr)
            g_object_unref(proxy_);
        proxy_ = nullptr;
    });
    drainContext(context_);
    g_main_context_unref(context_);
}

bool DBusProxy::checkConnected(const char* method, const char* kind) const
{
    if (proxy_ != nullptr)
        return true;
    quillonLog(LOG_WARNING, "Cannot call method %s %s because the proxy is not connected\n", method,
               kind);
    return false;
}

GVariant* DBusProxy::callSync(const char* method, GVariant* parameters, int timeoutMs)
{
    return callFdListSync(method, parameters, nullptr, nullptr, timeoutMs);
}

GVariant* DBusProxy::callFdListSync(const char* method, GVariant* parameters, GUnixFDList* fdList,
                                    GUnixFDList** outFdList, int timeoutMs)
{
    if (outFdList != nullptr)
        *outFdList = nullptr;
    if (!checkConnected(method, "sync")) {
        if (parameters != nullptr)
            g_variant_unref(g_variant_ref_sink(parameters));
        return nullptr;
    }
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        connection_, service_.c_str(), objectPath_.c_str(), interface_.c_str(), method, parameters,
        nullptr, G_DBUS_CALL_FLAGS_NONE, timeoutMs, fdList, outFdList, nullptr, &error);
    return finishCall(reply, error, method);
}

void DBusProxy::callAsync(const char* method, GVariant* parameters, GAsyncReadyCallback callback,
                          gpointer userData, int timeoutMs)
{
    if (!checkConnected(method, "async")) {
        if (parameters != nullptr)
            g_variant_unref(g_variant_ref_sink(parameters));
        return;
    }
    g_dbus_connection_call(connection_, service_.c_str(), objectPath_.c_str(), interface_.c_str(),
                           method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr,
                           callback, userData);
}

guint DBusProxy::subscribeSignal(const char* member, const char* interface,
                                 GDBusSignalCallback callback, gpointer userData)
{
    if (proxy_ == nullptr) {
        quillonLog(LOG_WARNING,
                   "Cannot subscribe to properties changed before the interface %s is connected\n",
                   interface_.c_str());
        return 0;
    }
    guint id = 0;
    runOnContext(context_, [&] {
        id = g_dbus_connection_signal_subscribe(
            connection_, service_.c_str(), interface, member, objectPath_.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, callback, userData, nullptr);
        std::lock_guard<std::mutex> guard(lock_);
        subscriptions_.push_back(id);
    });
    return id;
}

void DBusProxy::unsubscribeSignal(guint id)
{
    runOnContext(context_, [&] {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = std::find(subscriptions_.begin(), subscriptions_.end(), id);
        if (it == subscriptions_.end())
            return;
        g_dbus_connection_signal_unsubscribe(connection_, id);
        subscriptions_.erase(it);
    });
}

std::string DBusProxy::nameOwner() const
{
    if (owner_ == nullptr)
        return {};
    std::lock_guard<std::mutex> guard(owner_->lock);
    return owner_->owner;
}

std::string variantText(GVariant* value)
{
    gchar* text = g_variant_print(value, TRUE);
    std::string out(text);
    g_free(text);
    return out;
}

} // namespace quillon
