#pragma once

namespace quillon
{

class DBusProxy;

// The control socket of the camera's PTZ service ("com.zeto.PTZ2",
// "/com/zeto/PTZ2/Channel/<n>", "com.zeto.PTZ2.ControlSocket1"), obtained and
// given back for libptzlink.
//
// Threads: called from libptzlink's socket callbacks, on whichever thread
// made the library call (the tracker's), with that client locked. They look
// up the channel's proxy in the PTZ component's socket list and make
// synchronous calls with the bus-thread time-out (2 s), so a frozen service
// fails the library call instead of stalling the caller.

// The connect callback: a new socket for `channel` in *socketFd (the caller
// owns it) and its handle in *socketHandle; 0, or -1 when there is no proxy
// for the channel or the service gave no usable socket.
int connectControlSocket(int channel, int* socketFd, int* socketHandle);
// The disconnect callback: gives the socket back; -1 when there is no proxy
// for the channel, else 0 (a refusal is logged).
int disconnectControlSocket(int channel, int socketHandle);

// CreateSocketAsAutotracker: the socket's descriptor (caller owns it) and
// `handle`, or -1. A reply with a handle but no usable descriptor gives the
// handle back (DestroySocket) before failing, so the service does not keep a
// socket per failed attempt.
int createSocketAsAutotracker(DBusProxy& proxy, int& handle);
// DestroySocket(handle): 0 on an empty reply, -1 otherwise.
int destroySocket(DBusProxy& proxy, int handle);

} // namespace quillon
