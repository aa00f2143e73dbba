#pragma once

// A camsim process on its own private system bus, for integration tests of
// camsim and of the libraries that talk to it. Header-only so other test
// folders can include it.
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"

namespace camsimtest
{

// Iterates the thread-default main context until `done` or the time-out.
inline bool pumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        g_main_context_iteration(nullptr, FALSE);
        g_usleep(2000);
    }
    return true;
}

// Round trip to the bus daemon: once it returns, every match rule this
// connection added before has been applied, so signals emitted afterwards
// reach it.
inline void syncWithBus(GDBusConnection* c)
{
    GVariant* r = g_dbus_connection_call_sync(c, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                              "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                              G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr);
    if (r)
        g_variant_unref(r);
}

// The PTZ control socket of `channel` from "com.zeto.PTZ2.ControlSocket1",
// as a daemon's libptzlink connect callback obtains it: 0 with the socket in
// *fd and its handle in *handle, -1 on failure.
inline int createControlSocket(GDBusConnection* bus, int channel, int* fd, int* handle)
{
    std::string path = "/com/zeto/PTZ2/Channel/" + std::to_string(channel);
    GUnixFDList* fds = nullptr;
    GVariant* r = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, "com.zeto.PTZ2", path.c_str(), "com.zeto.PTZ2.ControlSocket1",
        "CreateSocketAsAutotracker", nullptr, G_VARIANT_TYPE("(i)"), G_DBUS_CALL_FLAGS_NONE, 5000,
        nullptr, &fds, nullptr, nullptr);
    if (r == nullptr)
        return -1;
    g_variant_get(r, "(i)", handle);
    g_variant_unref(r);
    *fd = fds != nullptr && g_unix_fd_list_get_length(fds) > 0 ? g_unix_fd_list_get(fds, 0, nullptr)
                                                               : -1;
    if (fds != nullptr)
        g_object_unref(fds);
    return *fd >= 0 ? 0 : -1;
}

// One request on camsim's control socket.
inline nlohmann::json controlRequest(const std::string& path, const nlohmann::json& request)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0)
            close(fd);
        throw std::runtime_error("cannot connect to " + path);
    }
    std::string line = request.dump() + "\n";
    send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    std::string reply;
    char buf[4096];
    while (reply.find('\n') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0)
            break;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        reply.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    if (reply.find('\n') == std::string::npos)
        throw std::runtime_error("no reply from camsim");
    return nlohmann::json::parse(reply.substr(0, reply.find('\n')));
}

class CamsimRunner
{
public:
    // With `startNow` false only the bus runs until start().
    explicit CamsimRunner(std::vector<std::string> args = {},
                          std::map<std::string, std::string> env = {}, bool startNow = true)
        : dir_("camsim"), bus_(std::make_unique<testsupport::PrivateBus>(dir_.path()))
    {
        root_ = dir_.path() + "/root";
        env["CAMROOT"] = root_;
        argv_ = {CAMSIM_PATH};
        argv_.insert(argv_.end(), args.begin(), args.end());
        env_ = std::move(env);
        if (startNow)
            start();
        conn_ = connect();
    }

    // Starts camsim (again) on the same bus and camera root, with the same
    // arguments; waits until it is ready.
    void start()
    {
        process_ = std::make_unique<testsupport::ChildProcess>(argv_, env_);
        if (!process_->waitForOutput("camsim ready", std::chrono::seconds(20)))
            throw std::runtime_error("camsim did not start: " + process_->output());
    }
    // Ends camsim (SIGTERM); the bus stays.
    void stop()
    {
        if (process_)
            process_->stop(15);
    }
    void restart()
    {
        stop();
        start();
    }

    ~CamsimRunner()
    {
        if (conn_ != nullptr)
            g_object_unref(conn_);
        process_.reset();
        bus_.reset();
    }

    // A new connection to the private bus (not the process-wide system bus
    // singleton, which would outlive this bus).
    GDBusConnection* connect() const
    {
        GError* err = nullptr;
        GDBusConnection* c = g_dbus_connection_new_for_address_sync(
            bus_->address().c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &err);
        if (c == nullptr) {
            std::string msg = err->message;
            g_error_free(err);
            throw std::runtime_error("bus connection failed: " + msg);
        }
        g_dbus_connection_set_exit_on_close(c, FALSE);
        return c;
    }

    GDBusConnection* bus() const { return conn_; }
    const std::string& root() const { return root_; }
    const testsupport::TempDir& dir() const { return dir_; }
    testsupport::ChildProcess& process() { return *process_; }
    std::string controlSocket() const { return root_ + "/run/camsim/control"; }

    // Sends a control request; throws when camsim refuses it.
    nlohmann::json control(const nlohmann::json& request) const
    {
        nlohmann::json r = controlRequest(controlSocket(), request);
        if (!r.value("ok", false))
            throw std::runtime_error("camsim refused " + request.dump() + ": " + r.dump());
        return r["result"];
    }

    // Synchronous call; returns the reply or null with *error set.
    GVariant* call(const char* name, const char* path, const char* iface, const char* method,
                   GVariant* params, GError** error = nullptr) const
    {
        return g_dbus_connection_call_sync(conn_, name, path, iface, method, params, nullptr,
                                           G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, error);
    }

    void kill() { process_->stop(9); }

private:
    std::vector<std::string> argv_;
    std::map<std::string, std::string> env_;
    testsupport::TempDir dir_;
    std::unique_ptr<testsupport::PrivateBus> bus_;
    std::string root_;
    std::unique_ptr<testsupport::ChildProcess> process_;
    GDBusConnection* conn_ = nullptr;
};

// Declares the tracking daemon's status event "streamObjects" on camsim's
// producer as the daemon does; returns the declaration id (-1 on failure).
inline int declareStreamObjects(const CamsimRunner& cam)
{
    GVariant* r =
        cam.call("com.zeto.EventProducerd1", "/com/zeto/EventProducerd1",
                 "com.zeto.EventProducerd1", "DeclareEvent",
                 g_variant_new_parsed(
                     "(false, {'topic0': 'VALUE_TYPE_STRING', 'topic1': 'VALUE_TYPE_STRING', "
                     "'topic2': 'VALUE_TYPE_STRING', 'jsonframe': 'VALUE_TYPE_STRING'}, "
                     "{'topic0': <'Plinth'>, 'topic1': <'Quillon'>, 'topic2': <'streamObjects'>}, "
                     "@a{ss} {}, @a{ss} {}, {'topic0': 'tnszeto', 'topic1': 'tnszeto', "
                     "'topic2': 'tnszeto'}, @a{sv} {}, '')"));
    if (r == nullptr)
        return -1;
    gint32 id = -1;
    g_variant_get(r, "(i)", &id);
    g_variant_unref(r);
    return id;
}

// Sends one status frame (jsonframe `text`, wall-clock time stamp) with the
// declaration `id`; false when the producer refused it.
inline bool sendStreamObjects(const CamsimRunner& cam, int id, const std::string& text,
                              gint64 wallUs)
{
    GVariant* r =
        cam.call("com.zeto.EventProducerd1", "/com/zeto/EventProducerd1",
                 "com.zeto.EventProducerd1", "SendEvent",
                 g_variant_new_parsed("(%i, {'jsonframe': <%s>}, %x)", id, text.c_str(), wallUs));
    if (r != nullptr)
        g_variant_unref(r);
    return r != nullptr;
}

} // namespace camsimtest
