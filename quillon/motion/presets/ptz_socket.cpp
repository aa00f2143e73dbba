#include "quillon/motion/presets/ptz_socket.h"

#include <string>

#include "quillon/events/dbus/dbus_proxy.h"

namespace quillon::PTZ
{

PTZ_Socket::PTZ_Socket(int channel)
    : channel_(channel),
      proxy_(std::make_unique<DBusProxy>("com.zeto.PTZ2",
                                         "/com/zeto/PTZ2/Channel/" + std::to_string(channel),
                                         "com.zeto.PTZ2.ControlSocket1"))
{
}

PTZ_Socket::~PTZ_Socket() = default;

} // namespace quillon::PTZ
