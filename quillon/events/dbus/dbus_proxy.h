#pragma once

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quillon
{

// A client of one object and interface of a service on the system bus.
//
// Calls are addressed to the service's well-known name, so they always reach
// its current owner, also after the service restarted. A proxy that could not
// be created (no system bus) turns every call into a logged no-op.
//
// Threads: the GIO proxy, its tracking of the service's owner and every
// signal subscription live on one GMainContext, `context()`: the creating
// thread's thread-default context when it has pushed one (the PTZ thread,
// the event-subscription thread), otherwise quillon's D-Bus thread
// (dbusThreadContext()). Signal callbacks run there. Calls may be made from
// any thread; the synchronous ones block the caller for at most their
// time-out. Subscribing, unsubscribing and destruction take the context
// (runOnContext): once unsubscribeSignal() or the destructor has returned, no
// callback of that subscription runs any more, so its user data may go. Do
// not destroy a proxy from a thread that the context's thread waits for.
class DBusProxy
{
public:
    // GIO's default time-out (25 s), for calls made on threads that may wait.
    static constexpr int kDefaultTimeoutMs = -1;
    // For calls made on the bus dispatch thread: a frozen service must not
    // stall the daemon.
    static constexpr int kBusThreadTimeoutMs = 2000;

    DBusProxy(std::string service, std::string objectPath, std::string interface);
    ~DBusProxy();
    DBusProxy(const DBusProxy&) = delete;
    DBusProxy& operator=(const DBusProxy&) = delete;

    bool connected() const { return proxy_ != nullptr; }

    // The reply (caller owns it, release with g_variant_unref) or null after
    // logging. `parameters` may be floating; it is consumed.
    GVariant* callSync(const char* method, GVariant* parameters, int timeoutMs = kDefaultTimeoutMs);
    // The same with Unix fd lists; *outFdList (when given) receives the
    // reply's list or null.
    GVariant* callFdListSync(const char* method, GVariant* parameters, GUnixFDList* fdList,
                             GUnixFDList** outFdList, int timeoutMs = kDefaultTimeoutMs);
    // Sends the call without waiting. Without a callback no reply is asked
    // for. A callback runs on the caller's thread-default context and
    // finishes with g_dbus_connection_call_finish() (its source object is
    // the GDBusConnection).
    void callAsync(const char* method, GVariant* parameters, GAsyncReadyCallback callback = nullptr,
                   gpointer userData = nullptr, int timeoutMs = kDefaultTimeoutMs);

    // Subscribes to `member` of `interface` sent by the service on this
    // object path; returns the id (0 when not connected).
    guint subscribeSignal(const char* member, const char* interface, GDBusSignalCallback callback,
                          gpointer userData);
    void unsubscribeSignal(guint id);

    // The unique name that owns the service ("" when none). Followed on
    // GIO's connection thread, in message order: once a call has returned,
    // an owner change that happened before its reply shows here.
    std::string nameOwner() const;

    const std::string& service() const { return service_; }
    const std::string& objectPath() const { return objectPath_; }
    const std::string& interfaceName() const { return interface_; }
    // The GIO proxy (null when not connected), e.g. for its "g-signal".
    GDBusProxy* proxy() const { return proxy_; }
    GMainContext* context() const { return context_; }

    struct OwnerState;

private:
    bool checkConnected(const char* method, const char* kind) const;

    std::string service_;
    std::string objectPath_;
    std::string interface_;
    GMainContext* context_ = nullptr; // owned reference
    GDBusProxy* proxy_ = nullptr;
    GDBusConnection* connection_ = nullptr; // borrowed from proxy_
    mutable std::mutex lock_;               // guards subscriptions_
    std::vector<guint> subscriptions_;
    std::shared_ptr<OwnerState> owner_; // shared with the connection's filter
    guint ownerFilter_ = 0;
};

// A value as g_variant_print text with type annotations (for log lines).
std::string variantText(GVariant* value);

} // namespace quillon
