#pragma once

// camsim on a private system bus for tests of quillon's D-Bus clients, with
// what its event services recorded, and a subscriber that collects the
// NotifyEvent signals of one topic.
#include <gio/gio.h>
#include <signal.h>

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camsim_runner.h"
#include "quillon/events/dbus/dbus_proxy.h"
#include "quillon/events/producer/event_declaration.h"
#include "support/log_capture.h"
#include "support/wait.h"

namespace eventstest
{

using nlohmann::json;

class CamsimEvents
{
public:
    explicit CamsimEvents(std::vector<std::string> args = {}, bool startNow = true)
        : camsim(std::move(args), {}, startNow)
    {
        // quillon's proxies use the process's system-bus connection: it must
        // not end the test when the private bus goes away first.
        // Held for the whole test, so that it is the connection they get.
        system_ = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
        if (system_ != nullptr)
            g_dbus_connection_set_exit_on_close(system_, FALSE);
    }
    ~CamsimEvents()
    {
        if (stopped_)
            kill(camsim.process().pid(), SIGCONT);
        if (system_ != nullptr)
            g_object_unref(system_);
    }

    json declared() const { return camsim.control({{"cmd", "events-declared"}}); }
    json sent() const { return camsim.control({{"cmd", "events-sent"}}); }

    // Freezes camsim (SIGSTOP) until thaw() or the end of the test.
    void freeze()
    {
        kill(camsim.process().pid(), SIGSTOP);
        stopped_ = true;
    }
    void thaw()
    {
        kill(camsim.process().pid(), SIGCONT);
        stopped_ = false;
    }

    camsimtest::CamsimRunner camsim;

private:
    bool stopped_ = false;
    GDBusConnection* system_ = nullptr;
};

// Subscribes to one topic through the event consumer with quillon's
// DBusProxy and keeps every NotifyEvent's values dictionary as
// g_variant_print text (callbacks on quillon's D-Bus thread).
class EventSubscriber
{
public:
    explicit EventSubscriber(const std::string& topic)
        : proxy_(std::make_unique<quillon::DBusProxy>(
              "com.zeto.EventConsumerd1", "/com/zeto/EventConsumerd1", "com.zeto.EventConsumerd1"))
    {
        signal_ =
            proxy_->subscribeSignal("NotifyEvent", "com.zeto.EventConsumerd1", onNotify, this);
        GVariant* reply =
            proxy_->callSync("Subscribe", quillon::generateEventSubscription(topic, ""));
        if (reply != nullptr) {
            g_variant_get(reply, "(i)", &id_);
            g_variant_unref(reply);
        }
    }

    int id() const { return id_; }
    std::vector<std::string> values() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return values_;
    }
    bool waitForCount(std::size_t n) const
    {
        return testsupport::waitFor([&] { return values().size() >= n; });
    }
    // Drops the proxy (and with it the subscription to the signal).
    void release() { proxy_.reset(); }

private:
    static void onNotify(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* params, gpointer data)
    {
        auto* self = static_cast<EventSubscriber*>(data);
        GVariant* values = g_variant_get_child_value(params, 2);
        gchar* text = g_variant_print(values, FALSE);
        {
            std::lock_guard<std::mutex> guard(self->lock_);
            self->values_.emplace_back(text);
        }
        g_free(text);
        g_variant_unref(values);
    }

    std::unique_ptr<quillon::DBusProxy> proxy_;
    guint signal_ = 0;
    int id_ = -1;
    mutable std::mutex lock_;
    std::vector<std::string> values_;
};

using testsupport::count;
using testsupport::LogCapture;

} // namespace eventstest
