#include "quillon/motion/link/control_socket.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include "quillon/core/log.h"
#include "quillon/events/dbus/dbus_proxy.h"
#include "quillon/motion/presets/ptz_presets.h"
#include "quillon/motion/presets/ptz_socket.h"

namespace quillon
{

int createSocketAsAutotracker(DBusProxy& proxy, int& handle)
{
    // Unref closes the list's own copies of the descriptors.
    g_autoptr(GUnixFDList) fds = nullptr;
    g_autoptr(GVariant) reply = proxy.callFdListSync("CreateSocketAsAutotracker", nullptr, nullptr,
                                                     &fds, DBusProxy::kBusThreadTimeoutMs);
    if (reply == nullptr || !g_variant_is_container(reply)) {
        quillonLog(LOG_WARNING, "CreateSocketAsAutotracker returned %p\n",
                   static_cast<void*>(reply));
        return -1;
    }
    if (g_variant_n_children(reply) < 1)
        return -1;
    g_autoptr(GVariant) child = g_variant_get_child_value(reply, 0);
    if (!g_variant_is_of_type(child, G_VARIANT_TYPE_INT32))
        return -1;
    handle = g_variant_get_int32(child);
    quillonLog(LOG_INFO, "CreateSocketAsAutotracker returned handle %d\n", handle);

    // From here the service holds a socket for us: give it back on failure.
    auto giveBack = [&] {
        destroySocket(proxy, handle);
        return -1;
    };
    if (fds == nullptr)
        return giveBack();
    int length = g_unix_fd_list_get_length(fds);
    quillonLog(LOG_INFO, "DBusProxy::callFdListMethodSync() fd_list length %d \n", length);
    if (length < 1)
        return giveBack();
    g_autoptr(GError) error = nullptr;
    int fd = g_unix_fd_list_get(fds, 0, &error); // a duplicate, ours
    if (fd < 0) {
        quillonLog(LOG_WARNING, "An error occurred when extracting fd\n");
        return giveBack();
    }
    return fd;
}

int destroySocket(DBusProxy& proxy, int handle)
{
    g_autoptr(GVariant) reply = proxy.callSync("DestroySocket", g_variant_new("(i)", handle),
                                               DBusProxy::kBusThreadTimeoutMs);
    if (reply != nullptr && g_variant_is_container(reply)) {
        quillonLog(LOG_INFO, "DestroySocket returned\n");
        return 0;
    }
    quillonLog(LOG_WARNING, "DestroySocket failed %p\n", static_cast<void*>(reply));
    return -1;
}

int connectControlSocket(int channel, int* socketFd, int* socketHandle)
{
    // Shared: the proxy stays alive while in use, even if the PTZ component
    // stops meanwhile.
    std::shared_ptr<PTZ::PTZ_Socket> socket = PTZ::socket(channel);
    if (!socket)
        return -1;
    int handle = -1;
    int fd = createSocketAsAutotracker(socket->proxy(), handle);
    if (fd < 0) {
        quillonLog(LOG_ERR, "connectSocket failed (as autotracker) %d %d\n", fd, channel);
        return -1;
    }
    quillonLog(LOG_INFO, "connectSocket (as autotracker) %d => %d\n", channel, fd);
    *socketFd = fd;
    *socketHandle = handle;
    return 0;
}

int disconnectControlSocket(int channel, int socketHandle)
{
    std::shared_ptr<PTZ::PTZ_Socket> socket = PTZ::socket(channel);
    if (!socket)
        return -1;
    int result = destroySocket(socket->proxy(), socketHandle);
    if (result != 0)
        quillonLog(LOG_ERR, "disconnectSocket failed %d\n", result);
    return 0;
}

} // namespace quillon
