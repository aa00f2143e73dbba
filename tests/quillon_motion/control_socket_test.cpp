// CreateSocketAsAutotracker and DestroySocket against a scripted service on
// a private bus: every malformed or incomplete reply fails with -1 and the
// expected lines, and a reply with a handle but no descriptor gives the
// handle back.
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quillon/events/dbus/dbus_proxy.h"
#include "quillon/motion/link/control_socket.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"
#include "support/wait.h"

using namespace quillon;

namespace
{

constexpr const char* kName = "com.zeto.ScriptedPTZ";
constexpr const char* kPath = "/com/zeto/PTZ2/Channel/1";
constexpr const char* kIface = "com.zeto.PTZ2.ControlSocket1";

// Answers the two methods from a message filter on its own connection, so
// that it can send any reply body and any number of descriptors.
class ScriptedService
{
public:
    enum class Reply { Error, Empty, NotAnInt, NoFdList, OneFd, TwoFds };

    explicit ScriptedService(const std::string& address)
    {
        conn_ = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        g_dbus_connection_set_exit_on_close(conn_, FALSE);
        filter_ = g_dbus_connection_add_filter(conn_, &ScriptedService::onMessage, this, nullptr);
        GVariant* r = g_dbus_connection_call_sync(
            conn_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", kName, 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, 10000,
            nullptr, nullptr);
        if (r != nullptr)
            g_variant_unref(r);
    }
    ~ScriptedService()
    {
        g_dbus_connection_remove_filter(conn_, filter_);
        g_dbus_connection_close_sync(conn_, nullptr, nullptr);
        g_object_unref(conn_);
    }

    std::atomic<Reply> reply{Reply::OneFd};
    std::atomic<bool> refuseDestroy{false};
    std::vector<int> destroyed() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return destroyed_;
    }

private:
    // Runs on GDBus's worker thread.
    static GDBusMessage* onMessage(GDBusConnection* c, GDBusMessage* m, gboolean incoming,
                                   gpointer data)
    {
        auto* self = static_cast<ScriptedService*>(data);
        if (!incoming || g_dbus_message_get_message_type(m) != G_DBUS_MESSAGE_TYPE_METHOD_CALL ||
            g_strcmp0(g_dbus_message_get_interface(m), kIface) != 0)
            return m;
        std::string member = g_dbus_message_get_member(m);
        GDBusMessage* out = nullptr;
        if (member == "DestroySocket") {
            gint32 handle = -1;
            g_variant_get(g_dbus_message_get_body(m), "(i)", &handle);
            {
                std::lock_guard<std::mutex> guard(self->lock_);
                self->destroyed_.push_back(handle);
            }
            if (self->refuseDestroy) {
                out = g_dbus_message_new_method_error(m, "com.zeto.PTZ2.Error.Failed", "no");
            } else {
                out = g_dbus_message_new_method_reply(m);
                g_dbus_message_set_body(out, g_variant_new("()"));
            }
        } else {
            out = self->socketReply(m);
        }
        g_dbus_connection_send_message(c, out, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
        g_object_unref(out);
        g_object_unref(m);
        return nullptr;
    }

    GDBusMessage* socketReply(GDBusMessage* call)
    {
        Reply r = reply.load();
        if (r == Reply::Error)
            return g_dbus_message_new_method_error(call, "com.zeto.PTZ2.Error.Failed", "refused");
        GDBusMessage* out = g_dbus_message_new_method_reply(call);
        switch (r) {
        case Reply::Empty:
            g_dbus_message_set_body(out, g_variant_new("()"));
            break;
        case Reply::NotAnInt:
            g_dbus_message_set_body(out, g_variant_new("(s)", "7"));
            break;
        case Reply::NoFdList:
            g_dbus_message_set_body(out, g_variant_new("(i)", 7));
            break;
        default: {
            int fds = r == Reply::OneFd ? 1 : 2;
            GUnixFDList* list = g_unix_fd_list_new();
            for (int i = 0; i < fds; ++i)
                g_unix_fd_list_append(list, STDERR_FILENO, nullptr);
            g_dbus_message_set_unix_fd_list(out, list);
            g_object_unref(list);
            g_dbus_message_set_body(out, g_variant_new("(i)", 8));
        }
        }
        return out;
    }

    GDBusConnection* conn_ = nullptr;
    guint filter_ = 0;
    mutable std::mutex lock_;
    std::vector<int> destroyed_;
};

class ControlSocketCalls : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("QUILLON_LOG_STDERR", "1", 1);
        // quillon keeps its system-bus connection for the life of the
        // process; this bus ends with the test, which must not end the
        // process.
        g_autoptr(GDBusConnection) system = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
        ASSERT_NE(system, nullptr);
        g_dbus_connection_set_exit_on_close(system, FALSE);
    }

    testsupport::TempDir dir{"socketcalls"};
    testsupport::PrivateBus bus{dir.path()};
    ScriptedService service{bus.address()};
    DBusProxy proxy{kName, kPath, kIface};
};

} // namespace

TEST_F(ControlSocketCalls, EveryReplyShape)
{
    using Reply = ScriptedService::Reply;
    struct Row {
        const char* what;
        Reply reply;
        bool fd;
        std::vector<const char*> lines; // in this order
        bool givenBack;
    };
    const Row rows[] = {
        {"error", Reply::Error, false, {"CreateSocketAsAutotracker returned (nil)\n"}, false},
        {"no children", Reply::Empty, false, {}, false},
        {"handle not an int32", Reply::NotAnInt, false, {}, false},
        {"no fd list",
         Reply::NoFdList,
         false,
         {"CreateSocketAsAutotracker returned handle 7\n", "DestroySocket returned\n"},
         true},
        {"one fd",
         Reply::OneFd,
         true,
         {"CreateSocketAsAutotracker returned handle 8\n",
          "DBusProxy::callFdListMethodSync() fd_list length 1 \n"},
         false},
        {"two fds",
         Reply::TwoFds,
         true,
         {"CreateSocketAsAutotracker returned handle 8\n",
          "DBusProxy::callFdListMethodSync() fd_list length 2 \n"},
         false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        service.reply = r.reply;
        std::size_t destroyedBefore = service.destroyed().size();
        int handle = -1;
        testing::internal::CaptureStderr();
        int fd = createSocketAsAutotracker(proxy, handle);
        std::string log = testing::internal::GetCapturedStderr();
        if (r.fd) {
            EXPECT_GE(fd, 0);
            EXPECT_EQ(handle, 8);
            close(fd);
        } else {
            EXPECT_EQ(fd, -1);
        }
        std::size_t at = 0;
        for (const char* line : r.lines) {
            std::size_t found = log.find(line, at);
            EXPECT_NE(found, std::string::npos) << line << " in\n" << log;
            at = found == std::string::npos ? at : found;
        }
        if (r.lines.empty()) {
            EXPECT_EQ(log.find("returned handle"), std::string::npos) << log;
        }
        EXPECT_EQ(service.destroyed().size(), destroyedBefore + (r.givenBack ? 1 : 0));
    }
    EXPECT_EQ(service.destroyed(), std::vector<int>{7});
}

TEST_F(ControlSocketCalls, DestroySocketReportsRefusals)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(destroySocket(proxy, 3), 0);
    service.refuseDestroy = true;
    EXPECT_EQ(destroySocket(proxy, 4), -1);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("DestroySocket returned\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DestroySocket failed (nil)\n"), std::string::npos) << log;
    EXPECT_EQ(service.destroyed(), (std::vector<int>{3, 4}));
}
