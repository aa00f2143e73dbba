#pragma once

#include <memory>

namespace quillon
{
class DBusProxy;
}

namespace quillon::PTZ
{

// The control-socket interface of one video channel of the PTZ service
// ("com.zeto.PTZ2.ControlSocket1" on "/com/zeto/PTZ2/Channel/<n>"), through
// which the PTZ link obtains and releases its control socket.
//
// Threads: made by discovery on the PTZ thread; its calls are made from any
// thread (libptzlink's connect callback): use kBusThreadTimeoutMs there.
// Shared: a holder keeps it after the component stopped.
class PTZ_Socket
{
public:
    explicit PTZ_Socket(int channel);
    ~PTZ_Socket();
    PTZ_Socket(const PTZ_Socket&) = delete;
    PTZ_Socket& operator=(const PTZ_Socket&) = delete;

    int channel() const { return channel_; }
    DBusProxy& proxy() const { return *proxy_; }

private:
    int channel_;
    std::unique_ptr<DBusProxy> proxy_;
};

} // namespace quillon::PTZ
